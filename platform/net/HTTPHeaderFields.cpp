#include "platform/net/HTTPHeaderFields.h"

#include "platform/foundation/Text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

namespace platform {

// The count, then where each name and value lies in the text, then the text, in one allocation.
struct HTTPHeaderFields::Block {
    struct Entry {
        uint32_t nameAt;
        uint32_t nameSize;
        uint32_t valueAt;
        uint32_t valueSize;
    };

    size_t count;
    size_t bytes; // the whole block, so a copy is one allocation and one copy

    Entry* entries() { return reinterpret_cast<Entry*>(this + 1); }
    const Entry* entries() const { return reinterpret_cast<const Entry*>(this + 1); }
    const char* text() const { return reinterpret_cast<const char*>(entries() + count); }
    FieldView at(size_t index) const {
        const Entry& entry = entries()[index];
        return {{text() + entry.nameAt, entry.nameSize}, {text() + entry.valueAt, entry.valueSize}};
    }

    static Block* allocate(size_t count, size_t bytes) {
        return new (::operator new(bytes)) Block{count, bytes};
    }
    static void release(Block* block) {
        if (block)
            ::operator delete(block);
    }
};

namespace {

bool sameName(std::string_view a, std::string_view b) {
    return text::equalsIgnoringASCIICase(a, b);
}

// setValue:forHTTPHeaderField: on a list of lines.
void setIn(std::vector<HTTPHeaderFields::Field>& lines, std::string value, std::string_view name) {
    auto named = [&](const HTTPHeaderFields::Field& f) { return sameName(f.first, name); };
    auto first = std::find_if(lines.begin(), lines.end(), named);
    if (first == lines.end()) {
        lines.emplace_back(std::string(name), std::move(value));
        return;
    }
    first->second = std::move(value);
    lines.erase(std::remove_if(first + 1, lines.end(), named), lines.end());
}

} // namespace

HTTPHeaderFields::FieldView HTTPHeaderFields::Iterator::operator*() const {
    return m_block->at(m_index);
}

template <typename Lines> size_t HTTPHeaderFields::blockBytes(const Lines& lines, size_t& count) {
    count = 0;
    size_t textSize = 0;
    for (const auto& [name, value] : lines) {
        ++count;
        textSize += name.size() + value.size();
    }
    return count == 0 ? 0 : sizeof(Block) + count * sizeof(Block::Entry) + textSize;
}

template <typename Lines> void HTTPHeaderFields::fill(Block* block, const Lines& lines) {
    char* text = const_cast<char*>(block->text());
    uint32_t at = 0;
    auto place = [&](std::string_view piece, uint32_t& where, uint32_t& size) {
        std::memcpy(text + at, piece.data(), piece.size());
        where = at;
        size = static_cast<uint32_t>(piece.size());
        at += size;
    };
    Block::Entry* entry = block->entries();
    for (const auto& [name, value] : lines) {
        place(name, entry->nameAt, entry->nameSize);
        place(value, entry->valueAt, entry->valueSize);
        ++entry;
    }
}

template <typename Lines> HTTPHeaderFields HTTPHeaderFields::build(const Lines& lines) {
    size_t count = 0;
    size_t bytes = blockBytes(lines, count);
    HTTPHeaderFields fields;
    if (count == 0)
        return fields;
    Block* block = Block::allocate(count, bytes);
    fill(block, lines);
    fields.m_block = block;
    return fields;
}

template <typename Change> void HTTPHeaderFields::change(Change change) {
    std::vector<Field> lines = fields();
    change(lines);
    *this = build(lines);
}

HTTPHeaderFields::HTTPHeaderFields(std::initializer_list<Field> fields) {
    std::vector<Field> lines;
    for (const auto& field : fields)
        setIn(lines, field.second, field.first);
    *this = build(lines);
}

HTTPHeaderFields::HTTPHeaderFields(const HTTPHeaderFields& other) {
    if (other.m_block) {
        m_block = Block::allocate(other.m_block->count, other.m_block->bytes);
        std::memcpy(static_cast<void*>(m_block), other.m_block, other.m_block->bytes);
    }
}

HTTPHeaderFields& HTTPHeaderFields::operator=(const HTTPHeaderFields& other) {
    if (this != &other) {
        HTTPHeaderFields copy(other);
        if (!m_placed)
            Block::release(m_block);
        m_block = std::exchange(copy.m_block, nullptr);
        m_placed = false;
    }
    return *this;
}

HTTPHeaderFields::HTTPHeaderFields(HTTPHeaderFields&& other) noexcept {
    *this = std::move(other);
}

HTTPHeaderFields& HTTPHeaderFields::operator=(HTTPHeaderFields&& other) noexcept {
    if (this == &other)
        return *this;
    if (other.m_placed) {
        // Its room belongs to its owner: only a copy can leave it. Allocation failure ends the
        // process here, as it does for any allocation the fields make.
        *this = HTTPHeaderFields(other);
        return *this;
    }
    if (!m_placed)
        Block::release(m_block);
    m_block = std::exchange(other.m_block, nullptr);
    m_placed = false;
    return *this;
}

HTTPHeaderFields::~HTTPHeaderFields() {
    if (!m_placed)
        Block::release(m_block);
}

size_t HTTPHeaderFields::placedSize(const HTTPHeaderFields& fields) {
    return fields.m_block ? fields.m_block->bytes : 0;
}

HTTPHeaderFields HTTPHeaderFields::placedCopy(const HTTPHeaderFields& fields, void* room) {
    if (!fields.m_block)
        return {};
    std::memcpy(room, fields.m_block, fields.m_block->bytes);
    return HTTPHeaderFields(std::launder(static_cast<Block*>(room)), true); // never moved: made in place
}

size_t HTTPHeaderFields::placedSize(std::span<const FieldView> lines) {
    size_t count = 0;
    return blockBytes(lines, count);
}

HTTPHeaderFields HTTPHeaderFields::placedCopy(std::span<const FieldView> lines, void* room) {
    size_t count = 0;
    size_t bytes = blockBytes(lines, count);
    if (count == 0)
        return {};
    Block* block = new (room) Block{count, bytes};
    fill(block, lines);
    return HTTPHeaderFields(block, true); // never moved: made in place
}

HTTPHeaderFields HTTPHeaderFields::fromLines(const std::vector<Field>& lines) {
    return build(lines);
}

HTTPHeaderFields HTTPHeaderFields::fromLineViews(std::span<const FieldView> lines) {
    return build(lines);
}

size_t HTTPHeaderFields::size() const {
    return m_block ? m_block->count : 0;
}

std::vector<HTTPHeaderFields::Field> HTTPHeaderFields::fields() const {
    std::vector<Field> lines;
    lines.reserve(size());
    for (const auto& [name, value] : *this)
        lines.emplace_back(name, value);
    return lines;
}

std::optional<std::string> HTTPHeaderFields::value(std::string_view name) const {
    std::optional<std::string> joined;
    for (const auto& [fieldName, fieldValue] : *this) {
        if (!sameName(fieldName, name))
            continue;
        if (joined)
            joined->append(", ").append(fieldValue);
        else
            joined = std::string(fieldValue);
    }
    return joined;
}

std::vector<std::string> HTTPHeaderFields::values(std::string_view name) const {
    std::vector<std::string> found;
    for (const auto& [fieldName, fieldValue] : *this)
        if (sameName(fieldName, name))
            found.emplace_back(fieldValue);
    return found;
}

bool HTTPHeaderFields::contains(std::string_view name) const {
    return std::any_of(begin(), end(), [&](const FieldView& f) { return sameName(f.first, name); });
}

void HTTPHeaderFields::setValue(std::optional<std::string> value, std::string_view name) {
    if (!value) {
        remove(name);
        return;
    }
    std::string ownName(name); // `name` may lie in the block about to be replaced
    change([&](std::vector<Field>& lines) { setIn(lines, std::move(*value), ownName); });
}

void HTTPHeaderFields::addValue(std::string value, std::string_view name) {
    std::string ownName(name);
    change([&](std::vector<Field>& lines) {
        auto first = std::find_if(lines.begin(), lines.end(),
                                  [&](const Field& f) { return sameName(f.first, ownName); });
        if (first == lines.end())
            lines.emplace_back(std::move(ownName), std::move(value));
        else
            first->second.append(",").append(value);
    });
}

void HTTPHeaderFields::appendLine(std::string name, std::string value) {
    change([&](std::vector<Field>& lines) { lines.emplace_back(std::move(name), std::move(value)); });
}

void HTTPHeaderFields::remove(std::string_view name) {
    if (!contains(name))
        return;
    std::string ownName(name);
    change([&](std::vector<Field>& lines) {
        std::erase_if(lines, [&](const Field& f) { return sameName(f.first, ownName); });
    });
}

void HTTPHeaderFields::merge(const HTTPHeaderFields& other) {
    if (other.empty())
        return;
    HTTPHeaderFields copy = other; // `other` may be this object
    change([&](std::vector<Field>& lines) {
        std::vector<std::string_view> seen;
        for (const auto& field : copy) {
            const std::string_view name = field.first;
            if (std::any_of(seen.begin(), seen.end(), [&](std::string_view s) { return sameName(s, name); }))
                continue;
            seen.push_back(name);
            setIn(lines, *copy.value(name), name);
        }
    });
}

Value HTTPHeaderFields::dictionary() const {
    ValueDictionary result;
    for (const auto& [name, value] : *this) {
        bool done = false;
        for (const auto& entry : result)
            done = done || sameName(entry.first, name);
        if (!done)
            result.set(std::string(name), *this->value(name));
    }
    return Value(std::move(result));
}

HTTPHeaderFields HTTPHeaderFields::fromDictionary(const Value& dictionary) {
    std::vector<Field> lines;
    if (auto* entries = dictionary.dictionary())
        for (const auto& [name, value] : *entries)
            if (auto* text = value.string())
                setIn(lines, *text, name);
    return build(lines);
}

bool HTTPHeaderFields::operator==(const HTTPHeaderFields& other) const {
    return size() == other.size() && std::equal(begin(), end(), other.begin());
}

} // namespace platform
