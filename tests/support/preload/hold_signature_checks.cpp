// Test-only, never part of a shipped program: loaded into the daemon with
// LD_PRELOAD, it makes every Ed25519 signature check wait while the file
// named by VORN_TEST_HOLD_FILE exists, so that a test can keep requests
// parked (every slot taken, a flood of unchecked tokens). It stands in front
// of libsodium's function and then calls it.

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>

extern "C" int crypto_sign_verify_detached(const unsigned char* signature,
                                           const unsigned char* message,
                                           unsigned long long length,
                                           const unsigned char* publicKey) {
    using Verify = int (*)(const unsigned char*, const unsigned char*, unsigned long long,
                           const unsigned char*);
    static const auto verify =
        reinterpret_cast<Verify>(dlsym(RTLD_NEXT, "crypto_sign_verify_detached"));
    static const char* const holdFile = std::getenv("VORN_TEST_HOLD_FILE");
    while (holdFile != nullptr && ::access(holdFile, F_OK) == 0) {
        const timespec pause{0, 5'000'000};
        ::nanosleep(&pause, nullptr);
    }
    return verify(signature, message, length, publicKey);
}
