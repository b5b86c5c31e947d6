// Base fixture for the suites that talk to the fake service: one fake per suite (it takes a moment to
// start), reset before every test, its CA trusted through SSL_CERT_FILE while the test runs.
#pragma once

#include "support/FakeService.hpp"
#include "support/ScopedEnvironment.hpp"

#include <gtest/gtest.h>

class FakeServiceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { fake_ = new FakeService(); }
    static void TearDownTestSuite() {
        delete fake_;
        fake_ = nullptr;
    }
    void SetUp() override {
        fake_->reset();
        environment_.set("SSL_CERT_FILE", fake_->caFile());
    }

    static inline FakeService* fake_ = nullptr;
    ScopedEnvironment environment_;
};
