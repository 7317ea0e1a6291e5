// The umbrella header on its own must compile and give the public names.
#include <kes/kes.h>

#include <gtest/gtest.h>

#include <type_traits>

namespace {

TEST(Umbrella, BringsInEverySubsystem) {
    // Names from each subsystem the header promises; a missing include or a
    // header that only compiles after another one fails the build here.
    EXPECT_TRUE((std::is_base_of<ILockable, CKesCriticalSection>::value));
    EXPECT_TRUE((std::is_base_of<ILockable, CKesMutex>::value));
    EXPECT_TRUE((std::is_class<CKesException>::value));
    EXPECT_TRUE((std::is_class<CKesTimestamp>::value));
    EXPECT_TRUE((std::is_class<KesTestComponentBC>::value));
    EXPECT_TRUE((std::is_base_of<ILockable, CKesRwMutex>::value));
    EXPECT_TRUE((std::is_class<CKesThread>::value));
    EXPECT_TRUE((std::is_class<CKesNotifierB>::value));
    EXPECT_TRUE((std::is_class<CKesBstr>::value));
    EXPECT_TRUE((std::is_class<CKesRegistrar>::value));
    EXPECT_TRUE((std::is_class<CKesIpAddress>::value));
    EXPECT_TRUE((std::is_class<CKesPortSelector>::value));
}

}  // namespace
