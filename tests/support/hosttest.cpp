#include "hosttest.h"

#include <setjmp.h>

namespace {
void JumpBack(void) { longjmp(*kaHostTrapBuffer(-1), -1); }
}  // namespace

int RunTrapped(void (*fn)(void *), void *arg, std::string *message) {
    kaTrapContext context;
    jmp_buf buffer;
    kaHostEnterTrap(&context, &buffer, JumpBack);
    if (setjmp(buffer) == 0) {
        fn(arg);
        kaHostExitTrap(&context, 0);
        return 0;
    }
    kaHostExitTrap(&context, 1);
    if (message) *message = kaHostLastError();
    return 1;
}

void HostLeakCheck::SetUp() {
    arrays_ = kaHostLiveArrays();
    blocks_ = kaHostLiveBlocks();
    badReleases_ = kaHostBadReleases();
}

void HostLeakCheck::TearDown() {
    EXPECT_EQ(kaHostLiveArrays(), arrays_) << "host arrays leaked (or destroyed twice)";
    EXPECT_EQ(kaHostLiveBlocks(), blocks_) << "kaCalloc blocks leaked";
    EXPECT_EQ(kaHostBadReleases(), badReleases_) << "destroy or free of something not live";
}

HostOutputCapture::HostOutputCapture() { kaHostSetOutputHook(&HostOutputCapture::Append, this); }
HostOutputCapture::~HostOutputCapture() { kaHostSetOutputHook(nullptr, nullptr); }

void HostOutputCapture::Append(const char *text, size_t length, void *self) {
    static_cast<HostOutputCapture *>(self)->text_.append(text, length);
}
