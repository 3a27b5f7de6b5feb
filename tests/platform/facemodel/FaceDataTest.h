#pragma once

#include "platform/linux/facemodel/BlazeFaceDetector.h"
#include "platform/linux/facemodel/FaceModelPaths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

// Real-model tests: the models must be there (the fetch fixture provides them); the face data may be
// absent on some machines, and then the tests that need it skip.
class FaceDataTest : public ::testing::Test {
  protected:
    static std::filesystem::path faceData() { return TAVRINE_FACEDATA_DIR; }
    static bool haveFaceData() { return std::filesystem::is_directory(faceData()); }

    static tavrine::BlazeFaceDetector& detector() {
        static tavrine::BlazeFaceDetector::Loaded loaded =
            tavrine::BlazeFaceDetector::load(tavrine::FaceModelPaths::inDirectory(
                TAVRINE_TEST_MODELS_DIR, tavrine::FaceModelPaths::locate().landmarks));
        if (!loaded.detector) {
            ADD_FAILURE() << "models did not load: " << loaded.error;
            std::abort();
        }
        return *loaded.detector;
    }
};

#define REQUIRE_FACEDATA()                                                                                   \
    do {                                                                                                     \
        if (!haveFaceData()) {                                                                               \
            GTEST_SKIP() << "face data not found at " << faceData() << " (set TAVRINE_FACEDATA_DIR)";        \
        }                                                                                                    \
    } while (0)
