// The table is FreeType's own list of its errors (fterrdef.h, included
// again through fterrors.h with our FT_ERRORDEF), so it holds exactly the
// codes of the FreeType this is built with.
#include "display/FreeTypeErrors.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

namespace freetype {
namespace {

struct Entry {
    int code;
    const char* name;  // FT_Err_Name
    const char* text;
};

#define TEKO_FT_SPELL(x) #x
// `e` arrives as FT_ERR_CAT(FT_ERR_PREFIX, Name): expanded before it is
// spelled, it reads FT_Err_Name.
#define TEKO_FT_STRING(x) TEKO_FT_SPELL(x)

#undef FTERRORS_H_
#define FT_ERRORDEF(e, v, s) {v, TEKO_FT_STRING(e), s},
#define FT_ERROR_START_LIST constexpr Entry kErrors[] = {
#define FT_ERROR_END_LIST };
#include FT_ERRORS_H

constexpr size_t kPrefix = sizeof "FT_Err_" - 1;

}  // namespace

const char* ErrorText(FT_Error error) {
    static thread_local char line[96];
    for (const Entry& e : kErrors) {
        if (e.code != int(error)) continue;
        const bool prefixed = std::strncmp(e.name, "FT_Err_", kPrefix) == 0;
        std::snprintf(line, sizeof line, "%s (%s)", e.name + (prefixed ? kPrefix : 0), e.text);
        return line;
    }
    std::snprintf(line, sizeof line, "error 0x%.2X", unsigned(error));
    return line;
}

}  // namespace freetype
