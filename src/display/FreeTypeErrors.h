// FreeType's error codes by name. The FreeType of Debian and of most box
// images is built without its error strings (FT_Error_String answers NULL),
// and an FT_Error is no errno: strerror would tell something unrelated.
#pragma once

#include <ft2build.h>
#include FT_FREETYPE_H

namespace freetype {

// "Cannot_Open_Resource (cannot open resource)"; "error 0xNN" for a code
// this FreeType does not define.
const char* ErrorText(FT_Error error);

}  // namespace freetype
