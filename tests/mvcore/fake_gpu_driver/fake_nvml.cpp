// Fake NVML: just the four entry points the library resolves.
#include "fake_gpu_figures.h"

namespace {

struct NvmlMemory {
    unsigned long long total;
    unsigned long long free;
    unsigned long long used;
};

unsigned Count() {
    const char* text = std::getenv("FAKE_GPU_COUNT");
    return text != nullptr ? static_cast<unsigned>(std::atoi(text)) : 1u;
}

bool FailSecond() {
    const char* text = std::getenv("FAKE_GPU_FAIL_SECOND");
    return text != nullptr && std::strcmp(text, "1") == 0;
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) int nvmlInit_v2() {
    return 0;
}

__attribute__((visibility("default"))) int nvmlDeviceGetCount_v2(unsigned int* count) {
    *count = Count();
    return 0;
}

__attribute__((visibility("default"))) int nvmlDeviceGetHandleByIndex_v2(unsigned int index, void** device) {
    if (index >= Count()) return 2; // NVML_ERROR_INVALID_ARGUMENT
    // Handles are opaque to the caller; any distinct non-null value will do.
    static int devices[2];
    *device = &devices[index];
    return 0;
}

__attribute__((visibility("default"))) int nvmlDeviceGetMemoryInfo(void* device, NvmlMemory* memory) {
    void* handle = nullptr;
    nvmlDeviceGetHandleByIndex_v2(0, &handle);
    const unsigned index = device == handle ? 0 : 1;
    if (index == 1 && FailSecond()) return 999;
    const fake_gpu::Figures figures = fake_gpu::Query(index);
    memory->total = static_cast<unsigned long long>(figures.dedicated) * 1024;
    memory->free = static_cast<unsigned long long>(figures.current) * 1024;
    memory->used = memory->total - memory->free;
    return 0;
}
}
