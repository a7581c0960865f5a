#pragma once
// The reader's columns as Python objects: (first column, [other columns...]), floats widened.

#include "bindings/owned_ref.h"
#include "reader/readers/list_reader.h"

namespace quorvel {

// Consumes the columns, freeing each one as soon as its list exists. A list or float the
// interpreter cannot create ends the call with the failure "PyObject pointer is null".
OwnedRef columns_to_python(ColumnData&& columns);

}  // namespace quorvel
