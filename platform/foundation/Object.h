#pragma once
// The root class of every platform and system object that is handed around dynamically: held in a
// Value, stored by the archiver, carried by a notification, or asked whether it responds to a selector.
//
// Promises: className() and isKindOf() answer from the ClassRegistry (a class that was never
// registered reports its C++ type name and is kind of nothing but itself). Associated objects are
// thread-safe; a nil value removes the association. Objects live in std::shared_ptr.

#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace platform {

class Value;

class Object : public std::enable_shared_from_this<Object> {
public:
    Object();
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;
    virtual ~Object();

    std::string className() const;
    bool isKindOf(std::string_view className) const;

    // Whether the object implements an optional method, by the selector's text
    // ("socket:didReadData:withTag:"). Classes with optional methods override this.
    virtual bool respondsTo(std::string_view selector) const;

    // A short text for logs.
    virtual std::string description() const;

    void setAssociatedObject(const void* key, const Value& value);
    Value associatedObject(const void* key) const;

    template <typename T> std::shared_ptr<T> sharedAs() {
        return std::dynamic_pointer_cast<T>(shared_from_this());
    }

private:
    struct Associations;
    mutable std::mutex m_associationsMutex;
    std::unique_ptr<Associations> m_associations;
};

using ObjectPtr = std::shared_ptr<Object>;

} // namespace platform
