// Row text line and Lua row table: turns one row into its one-line text form and
// back (sample files, library), and into a Lua table handed to the script's decode
// function for the row's kind, whose returned decode text comes back as a string.
#pragma once

#include <string>

#include "vkrows.h"

struct lua_State;

namespace rowutils {

// The line of one row, ending with '\n'; empty for a row of no kind.
std::string toString(TrowPtr row);

// A new row from one line (without its line end); null when the line is no row.
// Malformed fields clear the row's ok flag and keep their defaults.
TrowPtr fromString(std::string& line);

// Pushes the row table of a row of kind 0..7 onto L; pushes nothing otherwise.
void setParams(const TrowPtr& row, lua_State* L);

// Decode text of a row: built in for an SOF group, else the script's decode
// function for the kind. Leaves L's stack as it found it.
std::string doDecode(const TrowPtr& row, lua_State* L);

}  // namespace rowutils
