// Sets TZ for one test and puts the previous value back afterwards.
#pragma once

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <cstdlib>
#include <ctime>
#include <string>

class ZoneTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* previous = std::getenv("TZ");
        myHadZone = previous != nullptr;
        if (myHadZone)
            myPreviousZone = previous;
    }
    void TearDown() override {
        if (myHadZone) {
            setenv("TZ", myPreviousZone.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    // Selects a zone; false (and the test should skip) when a named zone's
    // data is not installed.
    static bool UseZone(const char* theZone, bool theNeedsData = true) {
        if (theNeedsData) {
            struct stat info;
            std::string path = std::string("/usr/share/zoneinfo/") + theZone;
            if (::stat(path.c_str(), &info) != 0)
                return false;
        }
        setenv("TZ", theZone, 1);
        tzset();
        return true;
    }

  private:
    bool myHadZone = false;
    std::string myPreviousZone;
};

#define USE_ZONE_OR_SKIP(zone)                           \
    do {                                                 \
        if (!UseZone(zone))                              \
            GTEST_SKIP() << "no zone data for " << zone; \
    } while (0)
