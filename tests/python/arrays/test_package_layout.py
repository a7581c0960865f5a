"""The package's modules import one another without a circle, counting imports inside functions
and under TYPE_CHECKING: a circle hidden in a function is one a refactoring turns into an import
error."""

import ast
import pathlib

import quorvel_arrays

PACKAGE = pathlib.Path(quorvel_arrays.__file__).parent


def sibling_imports(source):
    """The package modules a module's source imports (relative imports, anywhere in it)."""
    found = set()
    for node in ast.walk(ast.parse(source)):
        if isinstance(node, ast.ImportFrom) and node.level == 1:
            found.update([node.module.partition(".")[0]] if node.module else [a.name for a in node.names])
    return found


def test_no_import_circle():
    graph = {path.stem: sibling_imports(path.read_text()) for path in PACKAGE.glob("*.py")}
    assert "_xarray" in graph["_plot_values"]  # the walk sees what it should
    finished, path = set(), []

    def visit(module):
        assert module not in path, " -> ".join(path[path.index(module):] + [module])
        if module in finished or module not in graph:
            return
        path.append(module)
        for imported in sorted(graph[module]):
            visit(imported)
        path.pop()
        finished.add(module)

    for module in sorted(graph):
        visit(module)
