def rust_read_kavrine(file_path: str, n_digits: int) -> tuple[list[float], list[list[float]]]:
    """Reads a KAVRINE plot file: (first column, [every other column])."""
    ...

__all__: list[str]
