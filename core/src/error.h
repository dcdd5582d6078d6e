// error: the fatal error value of the core, the non-fatal lints of a write and the quoting of text in
// messages. Nothing here throws or prints; every fallible operation returns a Result.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace tessary {

enum class ErrorCode {
    EmptyWorkbook,
    DuplicateSheetName,
    InvalidSheetName,
    BadCellRef,
    BadColor,
    InvalidJson,
    SchemaViolation,
    Encryption,
};

// The stable text of a code ("EmptyWorkbook").
std::string_view code_name(ErrorCode code);

// One fatal problem: what went wrong and an English message without a final full stop.
struct TessaryError {
    ErrorCode code;
    std::string message;
};

struct Ok {};

template <class T, class E = TessaryError>
class [[nodiscard]] Result {
    std::variant<T, E> v_;

public:
    Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
    Result(E error) : v_(std::in_place_index<1>, std::move(error)) {}
    bool ok() const { return v_.index() == 0; }
    T& value() { return std::get<0>(v_); }
    const T& value() const { return std::get<0>(v_); }
    E& error() { return std::get<1>(v_); }
    const E& error() const { return std::get<1>(v_); }
};

using Status = Result<Ok>;

#define TESSARY_TRY(expr)                                                 \
    do {                                                                  \
        if (auto try_r_ = (expr); !try_r_.ok()) return std::move(try_r_.error()); \
    } while (0)

enum class LintCode {
    ClampedColumnWidth,
    ClampedOutlineLevel,
    DroppedDuplicateMerge,
    ClampedFreeze,
};

// The stable text of a lint code ("ClampedColumnWidth").
std::string_view lint_name(LintCode code);

struct Lint {
    LintCode code;
    std::string message;
};

// The ordered lints of one write; renderers only append.
class Diagnostics {
    std::vector<Lint> lints_;

public:
    void push(LintCode code, std::string message) { lints_.push_back({code, std::move(message)}); }
    const std::vector<Lint>& lints() const { return lints_; }
    std::vector<Lint>& lints() { return lints_; }
    std::vector<Lint> take() { return std::move(lints_); }
};

// Appends `text` (UTF-8) as a double-quoted message value: backslash before a quotation mark or a
// backslash, \t \r \n \0 for those controls, \u{hex} for the other control characters (C0, DEL,
// C1) and for the invisible format characters and non-characters.
void quote_into(std::string& out, std::string_view text);

}  // namespace tessary
