// Where the tests find the shared test pictures, and what happens when they or an
// outside program a test runs are missing: outside CI a test skips with a clear
// message, in CI (CI=true) it fails.
#pragma once

#include <QStandardPaths>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace testdata {

inline std::filesystem::path root()
{
    return std::filesystem::path(PICTAVO_TESTDATA_DIR);
}

inline std::filesystem::path path(const std::string& relative)
{
    return root() / relative;
}

inline bool runningInCi()
{
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::string(ci) == "true";
}

} // namespace testdata

// Use at the top of a test that reads ../shared/testdata.
#define REQUIRE_TESTDATA()                                                                         \
    do {                                                                                           \
        if (!std::filesystem::is_directory(testdata::root())) {                                    \
            if (testdata::runningInCi())                                                           \
                FAIL() << "test pictures missing in CI: " << testdata::root();                     \
            else                                                                                   \
                GTEST_SKIP() << "test pictures not found at " << testdata::root();                 \
        }                                                                                          \
    } while (false)

// Use at the top of a test that runs an outside program (a validator, say); the
// Debian package that brings it is named in the message.
#define REQUIRE_TOOL(program, package)                                                             \
    do {                                                                                           \
        if (QStandardPaths::findExecutable(QStringLiteral(program)).isEmpty()) {                   \
            if (testdata::runningInCi())                                                           \
                FAIL() << program " (" package ") is missing in CI";                               \
            else                                                                                   \
                GTEST_SKIP() << program " not found; install " package;                            \
        }                                                                                          \
    } while (false)
