// Sets TZ for one test and puts the previous value back afterwards.
#pragma once

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
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
        if (myHadZone)
            setenv("TZ", myPreviousZone.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    // Selects a zone; false (the case is then skipped) when a named zone
    // ("Area/City") has no data installed. POSIX rules need none.
    static bool UseZone(const char* theZone) {
        struct stat info;
        if (std::strchr(theZone, '/') != nullptr &&
            ::stat((std::string("/usr/share/zoneinfo/") + theZone).c_str(), &info) != 0)
            return false;
        setenv("TZ", theZone, 1);
        tzset();
        return true;
    }

  private:
    bool myHadZone = false;
    std::string myPreviousZone;
};
