// A fresh simulated machine in a temporary folder, with the fake clock, for one test.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>

namespace kvatest {

class CTestMachine : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    const std::filesystem::path& State() const { return m_state; }

private:
    std::filesystem::path m_state;
};

// Path of a helper executable built beside the tests.
std::filesystem::path BinaryPath(const std::string& name);

}  // namespace kvatest
