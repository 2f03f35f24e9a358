#pragma once
// UIPasteboard: named pasteboards that applications share. A pasteboard holds data per type. A
// persistent one is kept as files in the per-user shared folder (Paths::shared()/pasteboards), so every
// application of the user sees it and it outlives the process; one that is not persistent lives in this
// process only. Lookups by name find either kind; data of a persistent pasteboard is read from disk at
// each call, so another application's writes show at once. Writes replace a type's data atomically.
// Thread-safe. Not promised: an order between writes that two processes make at the same moment.

#include "platform/foundation/Data.h"
#include "platform/foundation/Object.h"

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

class UIPasteboard;
using UIPasteboardPtr = std::shared_ptr<UIPasteboard>;

class UIPasteboard : public Object {
    struct Private {};

public:
    // The pasteboard of that name; null when it does not exist and `create` is false. A made one is
    // not persistent until setPersistent(true).
    static UIPasteboardPtr pasteboardWithName(const std::string& name, bool create);
    static void removePasteboardWithName(const std::string& name);

    UIPasteboard(Private, std::string name, bool persistent);

    const std::string& name() const { return m_name; }
    bool isPersistent() const;
    // Turning it on writes what the pasteboard holds to the shared folder; off removes it there.
    void setPersistent(bool persistent);

    std::optional<Data> dataForPasteboardType(std::string_view pasteboardType) const;
    void setData(const Data& data, std::string_view pasteboardType);

private:
    std::filesystem::path folder() const;

    const std::string m_name;
    mutable std::mutex m_mutex;
    bool m_persistent{false};
    std::map<std::string, Data, std::less<>> m_items; // by the type's file name, while not persistent
};

} // namespace platform
