// read: the workbook parser. Extracts the package, reads the workbook part, its relationships, the
// shared strings and the date styles, then every listed worksheet in one forward pass each. Cell
// texts are appended to one arena per sheet (shared strings to one arena per workbook), so a cell
// is 16 bytes and no cell owns a heap string.
#include "parse/read.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <optional>

#include "parse/xml.h"
#include "utf8.h"

namespace tessary::parse {

namespace {

constexpr std::size_t MAX_COLUMNS = 16384;      // A to XFD
constexpr uint64_t MAX_ROWS = 1048576;
constexpr int64_t MAX_SERIAL_DAYS = int64_t{1} << 53;
constexpr int64_t DAYS_1904_SHIFT = 1462;        // 1904-01-01 counted from 1899-12-30
constexpr uint32_t MAX_TEXT = std::numeric_limits<uint32_t>::max();

bool is_hex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

unsigned hex_value(char c) {
    if (c <= '9') return static_cast<unsigned>(c - '0');
    return static_cast<unsigned>((c | 0x20) - 'a' + 10);
}

// The code unit of an `_xHHHH_` run starting at `at`, or -1.
int32_t xstring_unit(std::string_view text, std::size_t at) {
    if (at + 7 > text.size() || text[at] != '_' || text[at + 1] != 'x' || text[at + 6] != '_') {
        return -1;
    }
    uint32_t v = 0;
    for (std::size_t i = at + 2; i < at + 6; ++i) {
        if (!is_hex(text[i])) return -1;
        v = v * 16 + hex_value(text[i]);
    }
    return static_cast<int32_t>(v);
}

// An unsigned decimal with one optional leading "+", fitting in T.
template <class T>
std::optional<T> parse_unsigned(std::string_view s) {
    if (!s.empty() && s[0] == '+') s.remove_prefix(1);
    if (s.empty()) return std::nullopt;
    T v = 0;
    auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return std::nullopt;
    return v;
}

}  // namespace

void ParsedSheet::push_text(CellKind kind, std::string_view text) {
    if (text.size() > MAX_TEXT) {
        std::size_t n = MAX_TEXT;
        while (n > 0 && (static_cast<uint8_t>(text[n]) & 0xC0) == 0x80) --n;
        text = text.substr(0, n);
    }
    CellValue c;
    c.kind = kind;
    c.len = static_cast<uint32_t>(text.size());
    c.offset = text_.size();
    text_ += text;
    cells_.push_back(c);
}

void ParsedSheet::push_shared(uint64_t offset, uint32_t len) {
    CellValue c;
    c.kind = CellKind::Str;
    c.shared = true;
    c.len = len;
    c.offset = offset;
    cells_.push_back(c);
}

void push_date_text(std::string& out, double serial) {
    double fl = std::floor(serial);
    int64_t days = 0;
    if (std::isnan(fl)) {
        days = 0;
    } else if (fl >= static_cast<double>(MAX_SERIAL_DAYS)) {
        days = MAX_SERIAL_DAYS;
    } else if (fl <= -static_cast<double>(MAX_SERIAL_DAYS)) {
        days = -MAX_SERIAL_DAYS;
    } else {
        days = static_cast<int64_t>(fl);
    }
    // Days to a proleptic Gregorian date in 400-year eras (serial 25569 is 1970-01-01).
    const int64_t since_epoch = days - 25569;
    const int64_t zz = since_epoch + 719468;
    const int64_t era = (zz >= 0 ? zz : zz - 146096) / 146097;
    const int64_t doe = zz - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t year = yoe + era * 400;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t day = doy - (153 * mp + 2) / 5 + 1;
    const int64_t month = mp < 10 ? mp + 3 : mp - 9;
    if (month <= 2) ++year;

    char buf[64];
    char* p = buf;
    auto put2 = [&p](int64_t v) {
        *p++ = static_cast<char>('0' + v / 10);
        *p++ = static_cast<char>('0' + v % 10);
    };
    if (year < 0) *p++ = '-';
    uint64_t ay = year < 0 ? static_cast<uint64_t>(-year) : static_cast<uint64_t>(year);
    char ybuf[24];
    auto yr = std::to_chars(ybuf, ybuf + sizeof ybuf, ay);
    for (std::ptrdiff_t pad = 4 - (yr.ptr - ybuf); pad > 0; --pad) *p++ = '0';
    std::memcpy(p, ybuf, static_cast<std::size_t>(yr.ptr - ybuf));
    p += yr.ptr - ybuf;
    *p++ = '-';
    put2(month);
    *p++ = '-';
    put2(day);
    const double fraction = serial - fl;
    if (fraction > 1e-9) {
        const int64_t secs = static_cast<int64_t>(std::round(fraction * 86400));
        *p++ = 'T';
        put2(secs / 3600);
        *p++ = ':';
        put2(secs % 3600 / 60);
        *p++ = ':';
        put2(secs % 60);
    }
    out.append(buf, p);
}

namespace {

// Plain decimals of at most 15 digits ("-12.5"): the digits as an integer below 2^53 divided by an
// exact power of ten is correctly rounded, so this agrees with a full conversion. False for any
// other form.
bool parse_short_decimal(std::string_view s, double* out) {
    static constexpr double POW10[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7,
                                       1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    std::size_t i = s.size() != 0 && s[0] == '-' ? 1 : 0;
    if (s.size() - i == 0 || s.size() - i > 16) return false;
    uint64_t m = 0;
    int digits = 0;
    int frac = -1;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (c >= '0' && c <= '9') {
            m = m * 10 + static_cast<uint64_t>(c - '0');
            ++digits;
            if (frac >= 0) ++frac;
        } else if (c == '.' && frac < 0) {
            frac = 0;
        } else {
            return false;
        }
    }
    if (digits == 0 || digits > 15) return false;
    double v = static_cast<double>(m);
    if (frac > 0) v /= POW10[frac];
    *out = s[0] == '-' ? -v : v;
    return true;
}

}  // namespace

bool parse_number(std::string_view text, double* out) {
    if (parse_short_decimal(text, out)) return true;
    std::string_view s = text;
    if (!s.empty() && s[0] == '+') {
        s.remove_prefix(1);
        if (!s.empty() && (s[0] == '-' || s[0] == '+')) return false;
    }
    if (s.empty()) return false;
    std::string_view body = s[0] == '-' ? s.substr(1) : s;
    if (body.empty()) return false;
    const char c0 = static_cast<char>(body[0] | 0x20);
    if (c0 == 'n' || c0 == 'i') {
        // Only the plain words: from_chars would also take "nan(...)".
        auto lower_eq = [](std::string_view a, std::string_view word) {
            if (a.size() != word.size()) return false;
            for (std::size_t i = 0; i < a.size(); ++i) {
                if (static_cast<char>(a[i] | 0x20) != word[i]) return false;
            }
            return true;
        };
        if (lower_eq(body, "nan")) {
            *out = std::numeric_limits<double>::quiet_NaN();
        } else if (lower_eq(body, "inf") || lower_eq(body, "infinity")) {
            *out = std::numeric_limits<double>::infinity();
        } else {
            return false;
        }
        if (s[0] == '-') *out = -*out;
        return true;
    }
    double v = 0;
    auto r = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::general);
    if (r.ptr != s.data() + s.size()) return false;
    if (r.ec == std::errc::result_out_of_range) {
        // Overflow reads as an infinity and underflow as zero (or the nearest subnormal).
        std::string copy(s);
        v = std::strtod(copy.c_str(), nullptr);
    } else if (r.ec != std::errc()) {
        return false;
    }
    *out = v;
    return true;
}

void push_xstring(std::string& out, std::string_view text) {
    std::size_t from = 0;
    std::size_t at = text.find("_x");
    while (at != std::string_view::npos) {
        int32_t unit = xstring_unit(text, at);
        std::size_t next = at + 1;
        if (unit >= 0) {
            uint32_t cp = static_cast<uint32_t>(unit);
            std::size_t run = 7;
            bool ok = true;
            if (cp >= 0xD800 && cp <= 0xDBFF) {
                int32_t low = xstring_unit(text, at + 7);
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<uint32_t>(low) - 0xDC00);
                    run = 14;
                } else {
                    ok = false;
                }
            } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                ok = false;
            }
            if (ok) {
                out.append(text.data() + from, at - from);
                push_utf8(out, cp);
                from = at + run;
                next = from;
            }
        }
        at = text.find("_x", next);
    }
    out.append(text.data() + from, text.size() - from);
}

bool is_date_code(std::string_view code) {
    char prev = 0;  // the previous character outside quoted, bracketed and escaped text
    for (std::size_t i = 0; i < code.size(); ++i) {
        char c = code[i];
        if (c == '"') {
            std::size_t close = code.find('"', i + 1);
            if (close == std::string_view::npos) return false;
            i = close;
            prev = 0;
            continue;
        }
        if (c == '[') {
            std::size_t close = code.find(']', i + 1);
            if (close == std::string_view::npos) return false;
            i = close;
            prev = 0;
            continue;
        }
        if (c == '\\') {
            ++i;
            prev = 0;
            continue;
        }
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c | 0x20);
        if (c == 'y' || c == 'd') return true;
        if (c == ':' && prev == 'h') return true;
        prev = c;
    }
    return false;
}

namespace {

// The text of a member: the bytes themselves when they are valid UTF-8, otherwise a lossy copy in
// `scratch`.
std::string_view part_text(const Entry& entry, std::string& scratch) {
    if (valid_utf8(entry.data)) return entry.data;
    scratch.clear();
    lossy_utf8_into(scratch, entry.data);
    return scratch;
}

// The workbook-level tables of one parse.
struct Tables {
    std::vector<std::pair<std::string, std::string>> sheets;  // (name, relationship id)
    std::map<std::string, std::string, std::less<>> rels;     // relationship id to target
    std::shared_ptr<std::string> shared_arena = std::make_shared<std::string>();
    std::vector<std::pair<uint64_t, uint32_t>> shared;         // (offset, length) in the arena
    std::vector<bool> date_flags;                              // per xf of cellXfs
    bool date1904 = false;
};

void read_workbook(std::string_view text, Tables& t) {
    Reader reader(text);
    Event ev;
    while (reader.next(ev)) {
        if (ev.kind != EventKind::Start) continue;
        std::string_view name = local_name(ev.tag.name);
        if (name == "sheet") {
            std::optional<std::string_view> sheet_name = ev.tag.attr("name");
            std::optional<std::string_view> id = ev.tag.attr_prefixed("id");
            if (sheet_name && id) t.sheets.emplace_back(std::string(*sheet_name), std::string(*id));
        } else if (name == "workbookPr") {
            std::optional<std::string_view> flag = ev.tag.attr("date1904");
            if (flag) t.date1904 = *flag == "1" || *flag == "true";
        }
    }
}

void read_rels(std::string_view text, Tables& t) {
    Reader reader(text);
    Event ev;
    while (reader.next(ev)) {
        if (ev.kind != EventKind::Start || local_name(ev.tag.name) != "Relationship") continue;
        std::optional<std::string_view> id = ev.tag.attr("Id");
        std::optional<std::string_view> target = ev.tag.attr("Target");
        if (id && target) t.rels.insert_or_assign(std::string(*id), std::string(*target));
    }
}

// Shared-string items (ECMA-376 Part 1, 18.4): the texts of all "t" elements of an item, rich-text
// runs included and phonetic runs ("rPh") left out; "<si/>" is an empty item.
void read_shared_strings(std::string_view text, Tables& t) {
    Reader reader(text);
    Event ev;
    std::string acc;
    bool in_t = false;
    bool in_rph = false;
    std::string& arena = *t.shared_arena;
    auto push_item = [&](std::string_view item) {
        uint64_t offset = arena.size();
        push_xstring(arena, item);
        uint64_t len = arena.size() - offset;
        if (len > MAX_TEXT) {
            len = MAX_TEXT;
            while (len > 0 && (static_cast<uint8_t>(arena[offset + len]) & 0xC0) == 0x80) --len;
            arena.resize(offset + len);
        }
        t.shared.emplace_back(offset, static_cast<uint32_t>(len));
    };
    while (reader.next(ev)) {
        if (ev.kind == EventKind::Text) {
            if (in_t && !in_rph) acc += ev.text.view();
            continue;
        }
        std::string_view name = local_name(ev.tag.name);
        if (ev.kind == EventKind::Start) {
            if (name == "si") {
                acc.clear();
                in_t = false;
                in_rph = false;
                if (ev.tag.self_closing) push_item({});
            } else if (name == "t") {
                in_t = !ev.tag.self_closing;
            } else if (name == "rPh") {
                in_rph = !ev.tag.self_closing;
            }
        } else if (name == "si") {
            push_item(acc);
            acc.clear();
        } else if (name == "t") {
            in_t = false;
        } else if (name == "rPh") {
            in_rph = false;
        }
    }
}

// Date flags of the cell formats: built-in date ids, or a custom code that formats dates.
void read_styles(std::string_view text, Tables& t) {
    Reader reader(text);
    Event ev;
    std::map<uint32_t, std::string> custom;
    std::vector<uint32_t> xf_ids;
    bool in_cell_xfs = false;
    while (reader.next(ev)) {
        if (ev.kind == EventKind::Text) continue;
        std::string_view name = local_name(ev.tag.name);
        if (ev.kind == EventKind::End) {
            if (name == "cellXfs") in_cell_xfs = false;
            continue;
        }
        if (name == "numFmt") {
            std::optional<std::string_view> id = ev.tag.attr("numFmtId");
            std::optional<std::string_view> code = ev.tag.attr("formatCode");
            if (!id || !code) continue;
            std::optional<uint32_t> n = parse_unsigned<uint32_t>(*id);
            if (n) custom.insert_or_assign(*n, std::string(*code));
        } else if (name == "cellXfs") {
            in_cell_xfs = !ev.tag.self_closing;
        } else if (name == "xf" && in_cell_xfs) {
            std::optional<std::string_view> id = ev.tag.attr("numFmtId");
            xf_ids.push_back(id ? parse_unsigned<uint32_t>(*id).value_or(0) : 0);
        }
    }
    t.date_flags.reserve(xf_ids.size());
    for (uint32_t id : xf_ids) {
        bool is_date = (id >= 14 && id <= 22) || (id >= 45 && id <= 47);
        if (!is_date) {
            auto it = custom.find(id);
            is_date = it != custom.end() && is_date_code(it->second);
        }
        t.date_flags.push_back(is_date);
    }
}

enum class Kind : uint8_t { Number, Shared, Bool, Text, Error };

// The column of a cell reference: its leading letters in bijective base 26, minus one; no
// letters give column 0. Past XFD the result is MAX_COLUMNS (the cell is dropped).
std::size_t ref_column(std::string_view ref) {
    std::size_t col = 0;
    for (char c : ref) {
        char lower = static_cast<char>(c | 0x20);
        if (lower < 'a' || lower > 'z') break;
        col = col * 26 + static_cast<std::size_t>(lower - 'a' + 1);
        if (col > MAX_COLUMNS) return MAX_COLUMNS;
    }
    return col == 0 ? 0 : col - 1;
}

// The state while one worksheet is read.
class SheetReader {
public:
    SheetReader(const Tables& t, ParsedSheet& sheet) : t_(t), sheet_(sheet) {}

    void run(std::string_view text) {
        sheet_.reserve_cells(std::min<std::size_t>(text.size() / 24, std::size_t{1} << 26));
        Reader reader(text);
        Event ev;
        while (reader.next(ev)) {
            if (ev.kind == EventKind::Text) {
                if ((in_v_ || in_t_) && !in_rph_) buf_ += ev.text.view();
                continue;
            }
            const Name name = classify(ev.tag.name);
            if (ev.kind == EventKind::Start) {
                start(name, ev.tag);
                continue;
            }
            switch (name) {
                case Name::C: end_cell(); break;
                case Name::V: in_v_ = false; break;
                case Name::T: in_t_ = false; break;
                case Name::Row:
                    sheet_.end_row();
                    ++rows_;
                    break;
                case Name::RPh: in_rph_ = false; break;
                case Name::Other: break;
            }
        }
        sheet_.drop_open_row();
    }

private:
    // The elements a worksheet reader acts on, by local name (any prefix).
    enum class Name : uint8_t { Other, Row, C, V, T, RPh };

    static Name classify(std::string_view qname) {
        std::string_view n = qname;
        for (std::size_t i = qname.size(); i > 0; --i) {
            if (qname[i - 1] == ':') {
                n = qname.substr(i);
                break;
            }
        }
        if (n.size() == 1) {
            switch (n[0]) {
                case 'c': return Name::C;
                case 'v': return Name::V;
                case 't': return Name::T;
                default: return Name::Other;
            }
        }
        if (n == "row") return Name::Row;
        if (n == "rPh") return Name::RPh;
        return Name::Other;
    }

    void start(Name name, const Tag& tag) {
        switch (name) {
            case Name::C:
                start_cell(tag);
                break;
            case Name::V:
                in_v_ = !tag.self_closing;
                has_text_ = true;
                buf_.clear();
                break;
            case Name::T:
                in_t_ = !tag.self_closing;
                has_text_ = true;
                break;
            case Name::Row: {
                sheet_.drop_open_row();
                // Applications leave empty rows out; "r" (1-based) puts the row back in its place.
                if (tag.self_closing) return;
                std::optional<std::string_view> r = tag.attr("r");
                std::optional<uint64_t> n = r ? parse_unsigned<uint64_t>(*r) : std::nullopt;
                if (n && *n <= MAX_ROWS) {
                    while (rows_ + 1 < *n) {
                        sheet_.end_row();
                        ++rows_;
                    }
                }
                break;
            }
            case Name::RPh:
                in_rph_ = !tag.self_closing;
                break;
            case Name::Other:
                break;
        }
    }

    void start_cell(const Tag& tag) {
        // "t", "s" and "r" in one pass over the attributes; the first of a name counts.
        std::optional<std::string_view> type, style, ref;
        for (std::size_t i = 0; i < tag.attr_count(); ++i) {
            const Attr& a = tag.attr_at(i);
            if (a.name.size() != 1) continue;
            std::optional<std::string_view>* slot = a.name[0] == 't'   ? &type
                                                    : a.name[0] == 's' ? &style
                                                    : a.name[0] == 'r' ? &ref
                                                                       : nullptr;
            if (slot != nullptr && !*slot) *slot = a.value.view();
        }
        kind_ = Kind::Number;
        if (type) {
            if (*type == "s") kind_ = Kind::Shared;
            else if (*type == "b") kind_ = Kind::Bool;
            else if (*type == "str" || *type == "inlineStr") kind_ = Kind::Text;
            else if (*type == "e") kind_ = Kind::Error;
        }
        style_ = style ? parse_unsigned<uint64_t>(*style).value_or(0) : 0;
        // A reference past XFD drops the cell; without one the cell follows the last.
        col_ = ref ? ref_column(*ref) : sheet_.open_row_len();
        open_ = !ref || col_ < MAX_COLUMNS;
        buf_.clear();
        in_v_ = false;
        in_t_ = false;
        in_rph_ = false;
        has_text_ = false;
        if (tag.self_closing) end_cell();
    }

    void place() {
        while (sheet_.open_row_len() < col_) sheet_.push_cell(CellValue::empty());
    }

    void end_cell() {
        if (!open_) return;
        place();
        switch (kind_) {
            case Kind::Shared: {
                std::optional<uint64_t> i = parse_unsigned<uint64_t>(buf_);
                if (i && *i < t_.shared.size()) {
                    sheet_.push_shared(t_.shared[*i].first, t_.shared[*i].second);
                } else {
                    sheet_.push_cell(CellValue::empty());
                }
                break;
            }
            case Kind::Bool:
                sheet_.push_cell(CellValue::boolean(buf_ == "1"));
                break;
            case Kind::Text:
                // An empty "v" or "t" element is an empty string, not a blank cell.
                if (buf_.empty() && !has_text_) {
                    sheet_.push_cell(CellValue::empty());
                } else {
                    scratch_.clear();
                    push_xstring(scratch_, buf_);
                    sheet_.push_text(CellKind::Str, scratch_);
                }
                break;
            case Kind::Error:
                if (buf_.empty()) sheet_.push_cell(CellValue::empty());
                else sheet_.push_text(CellKind::Str, buf_);
                break;
            case Kind::Number: {
                double v = 0;
                if (buf_.empty()) {
                    sheet_.push_cell(CellValue::empty());
                } else if (!parse_number(buf_, &v)) {
                    sheet_.push_text(CellKind::Str, buf_);
                } else if (style_ < t_.date_flags.size() && t_.date_flags[style_]) {
                    scratch_.clear();
                    push_date_text(scratch_, t_.date1904 ? v + DAYS_1904_SHIFT : v);
                    sheet_.push_text(CellKind::DateText, scratch_);
                } else {
                    sheet_.push_cell(CellValue::num(v));
                }
                break;
            }
        }
        // A later end tag "c" without a new start tag completes nothing more.
        open_ = false;
    }

    const Tables& t_;
    ParsedSheet& sheet_;
    std::string buf_;
    std::string scratch_;
    uint64_t rows_ = 0;
    std::size_t col_ = 0;
    bool open_ = false;  // a cell has started and is not complete
    uint64_t style_ = 0;
    Kind kind_ = Kind::Number;
    bool in_v_ = false;
    bool in_t_ = false;
    bool in_rph_ = false;
    bool has_text_ = false;  // the cell has a "v" or "t" element
};

// The member a relationship target names: "/a/b" is "a/b", anything else lies under "xl/".
std::string member_name(std::string_view target) {
    if (!target.empty() && target[0] == '/') return std::string(target.substr(1));
    std::string name = "xl/";
    name += target;
    return name;
}

}  // namespace

Result<ParsedWorkbook, ReadError> parse(std::span<const uint8_t> bytes) {
    ReadResult<std::vector<Entry>> extracted = extract(bytes);
    if (!extracted.ok()) return extracted.error();
    std::vector<Entry>& entries = extracted.value();
    const Entry* workbook = find_entry(entries, "xl/workbook.xml");
    if (workbook == nullptr) return ReadError::NotXlsx;

    Tables t;
    std::string scratch;
    read_workbook(part_text(*workbook, scratch), t);
    if (const Entry* e = find_entry(entries, "xl/_rels/workbook.xml.rels")) {
        read_rels(part_text(*e, scratch), t);
    }
    if (const Entry* e = find_entry(entries, "xl/sharedStrings.xml")) {
        read_shared_strings(part_text(*e, scratch), t);
    }
    if (const Entry* e = find_entry(entries, "xl/styles.xml")) read_styles(part_text(*e, scratch), t);
    t.shared_arena->shrink_to_fit();
    std::shared_ptr<const std::string> shared = t.shared_arena;

    // The member of each listed sheet, and the last sheet that reads each member, so that a
    // member's bytes are released as soon as they are no longer needed.
    constexpr std::size_t NONE = static_cast<std::size_t>(-1);
    std::vector<std::size_t> member_of(t.sheets.size(), NONE);
    std::vector<std::size_t> last_use(entries.size(), NONE);
    for (std::size_t i = 0; i < t.sheets.size(); ++i) {
        auto rel = t.rels.find(t.sheets[i].second);
        if (rel == t.rels.end()) continue;
        const Entry* e = find_entry(entries, member_name(rel->second));
        if (e == nullptr) continue;
        member_of[i] = static_cast<std::size_t>(e - entries.data());
        last_use[member_of[i]] = i;
    }

    ParsedWorkbook book;
    book.sheets.reserve(t.sheets.size());
    for (std::size_t i = 0; i < t.sheets.size(); ++i) {
        ParsedSheet& sheet = book.sheets.emplace_back();
        sheet.name = std::move(t.sheets[i].first);
        sheet.set_shared(shared);
        if (member_of[i] == NONE) continue;
        Entry& member = entries[member_of[i]];
        SheetReader(t, sheet).run(part_text(member, scratch));
        if (last_use[member_of[i]] == i) std::string().swap(member.data);
    }
    return book;
}

}  // namespace tessary::parse
