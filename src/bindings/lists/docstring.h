#pragma once
// The function's docstring as the interpreter stores it: a signature header (name, parameter
// list, "--" and an empty line) that becomes __text_signature__, then the text of __doc__. Users
// read and match the text as it stands ("percision" included): keep it letter for letter.

namespace quorvel {

inline constexpr char read_kavrine_doc[] =
    "rust_read_kavrine(file_path, n_digits)\n"
    "--\n"
    "\n"
    "# Reads in the kavrine file.\n"
    "\n"
    "1. First opens the\n"
    "1. Gets the number of parameters\n"
    "1. Gets the parameter names\n"
    "1. Loops over the rest of the file\n"
    "\n"
    "## KAVRINE plot file shape\n"
    "The KAVRINE data is stored in blocks per timestep with a max width of 10 columns.\n"
    "There are 2 versions of the KAVRINE plot file:\n"
    "1. 6 digits of percision, n_digits=12\n"
    "1. 9 digits of precision, n_digits=15\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "file_path: &str\n"
    "    the file path\n"
    "n_digits: usize\n"
    "    the width of a datafield\n"
    "\n"
    "Returns\n"
    "-------\n"
    "all_data: Vec<Vec<f32>>\n"
    "    the data stored in a vector of columns/vectors.\n";

static_assert(sizeof(read_kavrine_doc) - 1 == 616);

}  // namespace quorvel
