// xml: text escaping (stub; the full implementation follows).
#include "xml.h"

namespace tessary {

void escape_into(std::string& out, std::string_view text) { out += text; }
void escape_cell_text_into(std::string& out, std::string_view text) { escape_into(out, text); }

}  // namespace tessary
