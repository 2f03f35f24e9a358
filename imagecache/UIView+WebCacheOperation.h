#pragma once
// UIView(WebCacheOperation): the loads a view has running, one slot per thing it loads (its image, its
// animation frames, a button state's image ...). Setting a slot's load cancels the one it replaces;
// cancelling a slot cancels every load in it, in order, and empties the slot; removing forgets the
// slot's loads without cancelling them. The table lives with the view (an associated object), made on
// first use. Not locked: use a view's slots from one thread (the view extensions use the caller's).

#include "imagecache/WebImageOperation.h"
#include "platform/ui/UIView.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

using WebImageOperations = std::vector<std::shared_ptr<WebImageOperation>>;

// The view's slots; each holds one load, or several where one call starts several.
std::map<std::string, WebImageOperations>& operationDictionary(platform::UIView& view);

void wi_setImageLoadOperation(platform::UIView& view, std::shared_ptr<WebImageOperation> operation,
                              const std::string& key);
void wi_setImageLoadOperation(platform::UIView& view, WebImageOperations operations, const std::string& key);
void wi_cancelImageLoadOperationWithKey(platform::UIView& view, const std::string& key);
void wi_removeImageLoadOperationWithKey(platform::UIView& view, const std::string& key);
