#pragma once
// The independent reader and writer of the analytics' binary records (tests/support/binary_records.py),
// run with Debian's Python: records written by the library are decoded field by field, and records it
// writes are read by the library.

#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Data.h"
#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/Value.h"
#include "tests/support/ShellCommand.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>

namespace analyticstest {

class PythonRecords {
public:
    static bool available() { return std::filesystem::exists("/usr/bin/python3"); }

    static platform::Value decode(const platform::Data& bytes) {
        auto in = platform::Paths::temporary() / "record.bin";
        platform::AtomicFile::write(in, bytes);
        int status = -1;
        auto json =
            liveapp::test::runCommand("/usr/bin/python3 " + script() + " decode < " + in.string(), &status);
        EXPECT_EQ(status, 0) << json;
        return platform::JSONSerialization::JSONObjectWithData(platform::Data(std::string_view(json)));
    }

    static platform::Data encode(const std::string& json) {
        auto in = platform::Paths::temporary() / "record.json";
        platform::AtomicFile::write(in, platform::Data(std::string_view(json)));
        int status = -1;
        auto bytes =
            liveapp::test::runCommand("/usr/bin/python3 " + script() + " encode < " + in.string(), &status);
        EXPECT_EQ(status, 0);
        return platform::Data(std::string_view(bytes));
    }

private:
    static std::string script() {
        return std::string(LIVEAPP_TEST_SOURCE_DIR) + "/tests/support/binary_records.py";
    }
};

} // namespace analyticstest
