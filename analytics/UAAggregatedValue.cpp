#include "analytics/UAAggregatedValue.h"

#include "platform/foundation/Text.h"

#include <algorithm>

namespace {
constexpr size_t kMaximumLabels = 8;
}

void UAAggregatedValue::setLabelsWithString(const std::optional<std::string>& text) {
    labels.clear();
    if (!text || text->empty())
        return;
    for (auto& piece : platform::text::componentsSeparatedByString(*text, "!"))
        addLabels(piece);
}

void UAAggregatedValue::addLabels(const std::optional<std::string>& label) {
    if (!label || label->empty())
        return;
    if (auto known = std::find(labels.begin(), labels.end(), *label); known != labels.end()) {
        std::rotate(known, known + 1, labels.end());
        return;
    }
    labels.push_back(*label);
    if (labels.size() > kMaximumLabels)
        labels.erase(labels.begin());
}
