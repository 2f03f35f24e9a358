#include "platform/graphics/AttributedString.h"

#include "platform/foundation/Exception.h"
#include "platform/graphics/Color.h"
#include "platform/graphics/Font.h"
#include "platform/graphics/ParagraphStyle.h"

#include <algorithm>
#include <fmt/format.h>

namespace platform {

namespace {

bool valuesEqual(const Value& a, const Value& b) {
    if (!a.isObject() || !b.isObject())
        return a == b;
    ObjectPtr x = a.object(), y = b.object();
    if (x == y)
        return true;
    if (!x || !y)
        return false;
    if (auto cx = std::dynamic_pointer_cast<UIColor>(x))
        if (auto cy = std::dynamic_pointer_cast<UIColor>(y))
            return cx->isEqual(*cy);
    if (auto fx = std::dynamic_pointer_cast<UIFont>(x))
        if (auto fy = std::dynamic_pointer_cast<UIFont>(y))
            return fx->isEqual(*fy);
    if (auto px = std::dynamic_pointer_cast<NSParagraphStyle>(x))
        if (auto py = std::dynamic_pointer_cast<NSParagraphStyle>(y))
            return px->isEqual(*py);
    return false;
}

} // namespace

bool NSAttributesEqual(const NSAttributes& a, const NSAttributes& b) {
    if (a.size() != b.size())
        return false;
    for (const auto& [key, value] : a) {
        const Value* other = b.find(key);
        if (!other || !valuesEqual(value, *other))
            return false;
    }
    return true;
}

NSAttributedString::NSAttributedString(std::string string)
    : NSAttributedString(std::move(string), NSAttributes{}) {}

NSAttributedString::NSAttributedString(std::string string, NSAttributes attributes)
    : m_string(std::move(string))
    , m_length(text::utf16Length(m_string)) {
    if (m_length > 0)
        m_runs.push_back({m_length, std::move(attributes)});
}

void NSAttributedString::checkRange(Range range, const char* operation) const {
    if (range.location > m_length || range.length > m_length - range.location)
        throw Exception(NSRangeException, fmt::format("{}: Range {{{}, {}}} out of bounds; string length {}",
                                                      operation, range.location, range.length, m_length));
}

void NSAttributedString::normalise() {
    // Cutting inside a surrogate pair moves the cut to the pair's start, so the text may be a unit shorter
    // or longer than the runs say: make the runs cover the text exactly.
    uint64_t total = 0;
    for (auto& run : m_runs) {
        run.length = std::min(run.length, m_length - total);
        total += run.length;
    }
    if (total < m_length) {
        if (m_runs.empty())
            m_runs.push_back({0, {}});
        m_runs.back().length += m_length - total;
    }
    std::vector<Run> merged;
    merged.reserve(m_runs.size());
    for (auto& run : m_runs) {
        if (run.length == 0)
            continue;
        if (!merged.empty() && NSAttributesEqual(merged.back().attributes, run.attributes))
            merged.back().length += run.length;
        else
            merged.push_back(std::move(run));
    }
    m_runs = std::move(merged);
}

size_t NSAttributedString::runAt(uint64_t location, uint64_t* runStart) const {
    uint64_t start = 0;
    for (size_t i = 0; i < m_runs.size(); ++i) {
        if (location < start + m_runs[i].length) {
            if (runStart)
                *runStart = start;
            return i;
        }
        start += m_runs[i].length;
    }
    if (runStart)
        *runStart = start;
    return m_runs.size();
}

NSAttributes NSAttributedString::attributesAtIndex(uint64_t location, Range* effectiveRange) const {
    if (location >= m_length)
        checkRange({location, 1}, "attributesAtIndex:effectiveRange:");
    uint64_t start = 0;
    size_t i = runAt(location, &start);
    if (effectiveRange)
        *effectiveRange = {start, m_runs[i].length};
    return m_runs[i].attributes;
}

Value NSAttributedString::attribute(std::string_view name, uint64_t location, Range* effectiveRange) const {
    if (location >= m_length)
        checkRange({location, 1}, "attribute:atIndex:effectiveRange:");
    uint64_t start = 0;
    size_t i = runAt(location, &start);
    Value value = m_runs[i].attributes.get(name);
    if (effectiveRange) {
        uint64_t first = start, end = start + m_runs[i].length;
        for (size_t k = i; k > 0 && valuesEqual(m_runs[k - 1].attributes.get(name), value); --k)
            first -= m_runs[k - 1].length;
        for (size_t k = i + 1; k < m_runs.size() && valuesEqual(m_runs[k].attributes.get(name), value); ++k)
            end += m_runs[k].length;
        *effectiveRange = {first, end - first};
    }
    return value;
}

NSAttributedStringPtr NSAttributedString::attributedSubstringFromRange(Range range) const {
    checkRange(range, "attributedSubstringFromRange:");
    auto result = std::make_shared<NSAttributedString>();
    result->m_string = text::substringWithRange(m_string, range);
    result->m_length = text::utf16Length(result->m_string);
    uint64_t start = 0;
    for (const auto& run : m_runs) {
        uint64_t from = std::max(start, range.location);
        uint64_t to = std::min(start + run.length, range.end());
        if (from < to)
            result->m_runs.push_back({to - from, run.attributes});
        start += run.length;
    }
    result->normalise();
    return result;
}

void NSAttributedString::enumerateAttributesInRange(
    Range range, uint64_t options,
    const std::function<void(const NSAttributes&, Range, bool* stop)>& block) const {
    checkRange(range, "enumerateAttributesInRange:options:usingBlock:");
    if (!block)
        return;
    struct Span {
        size_t run;
        Range range;
    };
    std::vector<Span> spans;
    uint64_t start = 0;
    for (size_t i = 0; i < m_runs.size(); ++i) {
        uint64_t from = std::max(start, range.location);
        uint64_t to = std::min(start + m_runs[i].length, range.end());
        if (from < to)
            spans.push_back({i, {from, to - from}});
        start += m_runs[i].length;
    }
    if (options & NSAttributedStringEnumerationReverse)
        std::reverse(spans.begin(), spans.end());
    bool stop = false;
    for (const auto& span : spans) {
        block(m_runs[span.run].attributes, span.range, &stop);
        if (stop)
            break;
    }
}

void NSAttributedString::enumerateAttribute(
    std::string_view name, Range range, uint64_t options,
    const std::function<void(const Value&, Range, bool* stop)>& block) const {
    checkRange(range, "enumerateAttribute:inRange:options:usingBlock:");
    if (!block)
        return;
    struct Span {
        Value value;
        Range range;
    };
    std::vector<Span> spans;
    uint64_t start = 0;
    for (const auto& run : m_runs) {
        uint64_t from = std::max(start, range.location);
        uint64_t to = std::min(start + run.length, range.end());
        start += run.length;
        if (from >= to)
            continue;
        Value value = run.attributes.get(name);
        if (!spans.empty() && valuesEqual(spans.back().value, value))
            spans.back().range.length += to - from;
        else
            spans.push_back({value, {from, to - from}});
    }
    if (options & NSAttributedStringEnumerationReverse)
        std::reverse(spans.begin(), spans.end());
    bool stop = false;
    for (const auto& span : spans) {
        block(span.value, span.range, &stop);
        if (stop)
            break;
    }
}

bool NSAttributedString::isEqualToAttributedString(const NSAttributedString& other) const {
    if (m_string != other.m_string || m_runs.size() != other.m_runs.size())
        return false;
    for (size_t i = 0; i < m_runs.size(); ++i) {
        if (m_runs[i].length != other.m_runs[i].length ||
            !NSAttributesEqual(m_runs[i].attributes, other.m_runs[i].attributes))
            return false;
    }
    return true;
}

NSAttributedStringPtr NSAttributedString::copy() const {
    auto result = std::make_shared<NSAttributedString>();
    result->m_string = m_string;
    result->m_length = m_length;
    result->m_runs = m_runs;
    return result;
}

NSMutableAttributedStringPtr NSAttributedString::mutableCopy() const {
    auto result = std::make_shared<NSMutableAttributedString>();
    result->setAttributedString(*this);
    return result;
}

std::string NSAttributedString::description() const {
    std::string out;
    uint64_t start = 0;
    for (const auto& run : m_runs) {
        out += text::substringWithRange(m_string, {start, run.length});
        out += "{\n";
        for (const auto& [key, value] : run.attributes) {
            ObjectPtr object = value.object();
            out += "    " + key + " = " + (object ? object->description() : value.description()) + ";\n";
        }
        out += "}";
        start += run.length;
    }
    return out;
}

size_t NSMutableAttributedString::splitAt(uint64_t location) {
    uint64_t start = 0;
    for (size_t i = 0; i < m_runs.size(); ++i) {
        if (location == start)
            return i;
        if (location < start + m_runs[i].length) {
            Run tail{start + m_runs[i].length - location, m_runs[i].attributes};
            m_runs[i].length = location - start;
            m_runs.insert(m_runs.begin() + std::ptrdiff_t(i) + 1, std::move(tail));
            return i + 1;
        }
        start += m_runs[i].length;
    }
    return m_runs.size();
}

void NSMutableAttributedString::editAttributes(Range range, const std::function<void(NSAttributes&)>& edit) {
    if (range.length == 0)
        return;
    size_t first = splitAt(range.location);
    size_t last = splitAt(range.end());
    for (size_t i = first; i < last; ++i)
        edit(m_runs[i].attributes);
    normalise();
}

void NSMutableAttributedString::setAttributes(const NSAttributes& attributes, Range range) {
    checkRange(range, "setAttributes:range:");
    editAttributes(range, [&](NSAttributes& a) { a = attributes; });
}

void NSMutableAttributedString::addAttribute(std::string_view name, const Value& value, Range range) {
    checkRange(range, "addAttribute:value:range:");
    editAttributes(range, [&](NSAttributes& a) { a.set(std::string(name), value); });
}

void NSMutableAttributedString::addAttributes(const NSAttributes& attributes, Range range) {
    checkRange(range, "addAttributes:range:");
    editAttributes(range, [&](NSAttributes& a) {
        for (const auto& [key, value] : attributes)
            a.set(key, value);
    });
}

void NSMutableAttributedString::removeAttribute(std::string_view name, Range range) {
    checkRange(range, "removeAttribute:range:");
    editAttributes(range, [&](NSAttributes& a) { a.remove(name); });
}

void NSMutableAttributedString::replace(Range range, std::string_view replacement,
                                        const std::vector<Run>& runs) {
    size_t from = text::byteOffsetOfUTF16Index(m_string, range.location);
    size_t to = text::byteOffsetOfUTF16Index(m_string, range.end());
    size_t first = splitAt(range.location);
    size_t last = splitAt(range.end());
    m_runs.erase(m_runs.begin() + std::ptrdiff_t(first), m_runs.begin() + std::ptrdiff_t(last));
    m_runs.insert(m_runs.begin() + std::ptrdiff_t(first), runs.begin(), runs.end());
    m_string.replace(from, to - from, replacement);
    m_length = text::utf16Length(m_string);
    normalise();
}

void NSMutableAttributedString::replaceCharactersInRange(Range range, std::string_view string) {
    checkRange(range, "replaceCharactersInRange:withString:");
    NSAttributes inherited;
    if (range.length > 0)
        inherited = attributesAtIndex(range.location, nullptr);
    else if (range.location > 0)
        inherited = attributesAtIndex(range.location - 1, nullptr);
    else if (m_length > 0)
        inherited = attributesAtIndex(0, nullptr);
    uint64_t length = text::utf16Length(string);
    std::vector<Run> runs;
    if (length > 0)
        runs.push_back({length, std::move(inherited)});
    replace(range, string, runs);
}

void NSMutableAttributedString::replaceCharactersInRange(Range range, const NSAttributedString& string) {
    checkRange(range, "replaceCharactersInRange:withAttributedString:");
    // Copy first: the argument may be this very string.
    std::string text = string.string();
    std::vector<Run> runs = string.runs();
    replace(range, text, runs);
}

void NSMutableAttributedString::insertAttributedString(const NSAttributedString& string, uint64_t location) {
    checkRange({location, 0}, "insertAttributedString:atIndex:");
    replaceCharactersInRange({location, 0}, string);
}

void NSMutableAttributedString::appendAttributedString(const NSAttributedString& string) {
    replaceCharactersInRange({m_length, 0}, string);
}

void NSMutableAttributedString::deleteCharactersInRange(Range range) {
    checkRange(range, "deleteCharactersInRange:");
    replace(range, {}, {});
}

void NSMutableAttributedString::setAttributedString(const NSAttributedString& string) {
    if (&string == this)
        return;
    m_string = string.string();
    m_length = string.length();
    m_runs = string.runs();
}

} // namespace platform
