// Linked into every test program: names the source tree, the build tree and
// the shared corpus in the environment before any test runs.
#include <cstdlib>

namespace {

struct TestEnvironment {
    TestEnvironment() {
        ::setenv("QF_SOURCE_DIR", QF_TEST_SOURCE_DIR, 0);
        ::setenv("QF_BUILD_DIR", QF_TEST_BUILD_DIR, 0);
        ::setenv("QF_SHARED_DIR", QF_TEST_SHARED_DIR, 0);
    }
};

const TestEnvironment environment;

} // namespace
