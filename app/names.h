// Rules for the names the module gives files in /DataFiles/Zorvane.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quarrow {

enum : size_t { NAME_MAX_LENGTH = 127 };  // what a database record and a host listing hold

// True for a name that stays inside its folder: not empty, no "/", not "." or "..".
bool IsPlainName(const char *name);

// The k-th name for `name` when the plain one is taken: k = 1 is `name` itself, k >= 2
// inserts " (k)" before the extension ("Film.rec" -> "Film (2).rec"; a name without an
// extension gets it at the end). The part before the extension is cut so that the result
// has at most NAME_MAX_LENGTH bytes. False, with `out` empty, when it cannot be formed.
bool NumberedName(char *out, size_t size, const char *name, uint32_t k);

}  // namespace quarrow
