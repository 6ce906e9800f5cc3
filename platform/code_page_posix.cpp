// Hosts other than Windows have no code page conversions of their own: ours are the tables.
#include "platform/code_page.h"
#include "platform/code_page_table.h"

namespace platform {

bool ToCodePage(unsigned codePage, std::u16string_view in, std::string& out) {
    return code_page_table::Encode(codePage, in, out);
}

std::u16string FromCodePage(unsigned codePage, std::string_view in) { return code_page_table::Decode(codePage, in); }

} // namespace platform
