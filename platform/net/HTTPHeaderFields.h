#pragma once
// The header fields of an HTTP request or response: name and value pairs in the order they were
// added, names compared without regard to ASCII case, each name kept as its first caller spelled it.
// A response may carry a name on several lines (Set-Cookie); value() joins them with ", " as the
// platform's header dictionaries do, values() gives them one by one. A plain value: copy it freely.
// Every name and value lives in one block, so a reply's fields cost one allocation (and one free on
// whichever thread lets the last copy go) however many lines it has. Iterating yields views into
// that block, valid while the fields are neither changed nor destroyed.

#include "platform/foundation/Value.h"

#include <cstddef>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

class HTTPHeaderFields {
    struct Block;

public:
    using Field = std::pair<std::string, std::string>;
    using FieldView = std::pair<std::string_view, std::string_view>;

    class Iterator {
    public:
        using iterator_category = std::input_iterator_tag;
        using iterator_concept = std::forward_iterator_tag;
        using value_type = FieldView;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = FieldView;

        Iterator() = default;
        FieldView operator*() const;
        Iterator& operator++() {
            ++m_index;
            return *this;
        }
        Iterator operator++(int) {
            Iterator before = *this;
            ++m_index;
            return before;
        }
        bool operator==(const Iterator& other) const = default;

    private:
        friend class HTTPHeaderFields;
        Iterator(const Block* block, size_t index)
            : m_block(block)
            , m_index(index) {}
        const Block* m_block{nullptr};
        size_t m_index{0};
    };

    HTTPHeaderFields() = default;
    HTTPHeaderFields(std::initializer_list<Field> fields);
    HTTPHeaderFields(const HTTPHeaderFields& other);
    HTTPHeaderFields(HTTPHeaderFields&& other) noexcept;
    HTTPHeaderFields& operator=(const HTTPHeaderFields& other);
    HTTPHeaderFields& operator=(HTTPHeaderFields&& other) noexcept;
    ~HTTPHeaderFields();
    // The lines as a response carries them, a repeated name kept on each (appendLine, line by line).
    static HTTPHeaderFields fromLines(const std::vector<Field>& lines);
    static HTTPHeaderFields fromLineViews(std::span<const FieldView> lines); // the same, from views

    // valueForHTTPHeaderField: every line of that name joined with ", "; nullopt when absent.
    std::optional<std::string> value(std::string_view name) const;
    std::vector<std::string> values(std::string_view name) const;
    bool contains(std::string_view name) const;

    // setValue:forHTTPHeaderField: replaces every line of that name with one (keeping the spelling
    // and place of the first); nullopt removes the name.
    void setValue(std::optional<std::string> value, std::string_view name);
    // addValue:forHTTPHeaderField: appends to the value of that name after a comma, or adds the name.
    void addValue(std::string value, std::string_view name);
    // Adds one more line of that name, as a response does when a name repeats.
    void appendLine(std::string name, std::string value);
    void remove(std::string_view name);
    // Sets every field of `other` (theirs win on equal names).
    void merge(const HTTPHeaderFields& other);

    // The lines, copied out.
    std::vector<Field> fields() const;
    Iterator begin() const { return {m_block, 0}; }
    Iterator end() const { return {m_block, size()}; }
    size_t size() const;
    bool empty() const { return size() == 0; }

    // allHTTPHeaderFields as a dictionary of texts, lines of one name joined.
    Value dictionary() const;
    static HTTPHeaderFields fromDictionary(const Value& dictionary); // non-text values are skipped

    bool operator==(const HTTPHeaderFields& other) const;

    // For an owner that keeps its fields inside its own allocation: the room a copy of `fields`
    // takes, and that copy made in `room` (that many bytes, aligned for a pointer). The copy never
    // frees its room, and copying or moving it out makes fields of their own.
    static size_t placedSize(const HTTPHeaderFields& fields);
    static HTTPHeaderFields placedCopy(const HTTPHeaderFields& fields, void* room);
    // The same for fields made from lines, as fromLineViews makes them: a reply's fields go straight
    // into their owner's room, never into a block of their own first.
    static size_t placedSize(std::span<const FieldView> lines);
    static HTTPHeaderFields placedCopy(std::span<const FieldView> lines, void* room);

private:
    HTTPHeaderFields(Block* block, bool placed)
        : m_block(block)
        , m_placed(placed) {}
    template <typename Lines> static HTTPHeaderFields build(const Lines& lines);
    // The bytes of a block holding `lines`, and those lines written into a block of that size.
    template <typename Lines> static size_t blockBytes(const Lines& lines, size_t& count);
    template <typename Lines> static void fill(Block* block, const Lines& lines);
    // Changes go through a list of the lines, rebuilt into one block: fields are read far more often
    // than changed, and the lists changed are short.
    template <typename Change> void change(Change change);

    Block* m_block{nullptr}; // null when there are no fields
    bool m_placed{false};    // the block is in an owner's room
};

} // namespace platform
