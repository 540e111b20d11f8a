// The key table packed files are scrambled with.  A site that holds the table
// its packed files were made with builds with VARNEL_KEY_TABLE_FILE.
#include <cstdint>

#include "packfile.h"

namespace varnel {

#if defined(VARNEL_SITE_KEY_TABLE)
#include "keytable_site.h"
#else
namespace {
constexpr uint8_t Key(int i) { return static_cast<uint8_t>((i * 167 + 89) % 256); }
}  // namespace

#define VARNEL_KEY_ROW(i) Key(i), Key(i + 1), Key(i + 2), Key(i + 3), Key(i + 4), Key(i + 5), \
    Key(i + 6), Key(i + 7)
#define VARNEL_KEY_BLOCK(i) VARNEL_KEY_ROW(i), VARNEL_KEY_ROW(i + 8), VARNEL_KEY_ROW(i + 16), \
    VARNEL_KEY_ROW(i + 24)
const uint8_t kPackKeyTable[256] = {
    VARNEL_KEY_BLOCK(0),   VARNEL_KEY_BLOCK(32),  VARNEL_KEY_BLOCK(64),  VARNEL_KEY_BLOCK(96),
    VARNEL_KEY_BLOCK(128), VARNEL_KEY_BLOCK(160), VARNEL_KEY_BLOCK(192), VARNEL_KEY_BLOCK(224),
};
#undef VARNEL_KEY_BLOCK
#undef VARNEL_KEY_ROW
#endif

}  // namespace varnel
