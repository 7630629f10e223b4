// Uses a few parts of the installed library and reports through its exit code whether they work.
#include <Marvane/Error.h>
#include <Marvane/Graphics/LayerDataType.h>
#include <Marvane/Graphics/TextureFormat.h>
#include <Marvane/Platform.h>

#include <cstdio>
#include <cwchar>

int main() {
    using namespace Marvane;
    int failures = 0;
    auto check = [&](bool ok, const char* what) {
        if (!ok) {
            std::printf("failed: %s\n", what);
            ++failures;
        }
    };
    check(std::wcscmp(Error::ToString(Error::IO), L"IO") == 0, "Error::ToString");
    check(Graphics::GetRectangleSize(Graphics::TextureFormat::BC1, 5, 5) == 32, "GetRectangleSize");
    check(!LayerDataType::IsLinear(LayerDataType::R8G8B8A8_SRGB), "IsLinear");
    int counter = 1;
    check(Platform::InterlockedDec(counter) == 0, "InterlockedDec");
    Platform::CriticalSection lock;
    lock.Enter();
    check(lock.TryEnter(), "re-entering a critical section");
    lock.Leave();
    lock.Leave();
    check(Platform::GetTicksPerSecond() > 0, "GetTicksPerSecond");
    std::printf("%s\n", failures == 0 ? "client ok" : "client failed");
    return failures == 0 ? 0 : 1;
}
