#include "imagecache/UIView+WebCacheOperation.h"

#include "platform/foundation/Value.h"

using namespace platform;

namespace {

const char kOperationsKey = 0;

class OperationTable final : public Object {
public:
    std::map<std::string, WebImageOperations> slots;
};

} // namespace

std::map<std::string, WebImageOperations>& operationDictionary(UIView& view) {
    auto table = view.associatedObject(&kOperationsKey).objectAs<OperationTable>();
    if (!table) {
        table = std::make_shared<OperationTable>();
        view.setAssociatedObject(&kOperationsKey, Value(std::static_pointer_cast<Object>(table)));
    }
    return table->slots;
}

void wi_setImageLoadOperation(UIView& view, std::shared_ptr<WebImageOperation> operation,
                              const std::string& key) {
    wi_setImageLoadOperation(view, WebImageOperations{std::move(operation)}, key);
}

void wi_setImageLoadOperation(UIView& view, WebImageOperations operations, const std::string& key) {
    wi_cancelImageLoadOperationWithKey(view, key);
    std::erase(operations, nullptr);
    operationDictionary(view)[key] = std::move(operations);
}

void wi_cancelImageLoadOperationWithKey(UIView& view, const std::string& key) {
    auto& slots = operationDictionary(view);
    auto slot = slots.find(key);
    if (slot == slots.end())
        return;
    // Taken out first: a cancel may start another load on the same view.
    auto operations = std::move(slot->second);
    slots.erase(slot);
    for (const auto& operation : operations)
        operation->cancel();
}

void wi_removeImageLoadOperationWithKey(UIView& view, const std::string& key) {
    operationDictionary(view).erase(key);
}
