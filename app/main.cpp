// Program entry, compiled once per brand with VT_BRAND_ID.

#include "app/program.h"

#ifndef VT_BRAND_ID
#error "VT_BRAND_ID must name the brand of this executable"
#endif

int main(int argc, char** argv) {
    constexpr int kBrandId = VT_BRAND_ID;
    return vt::RunProgram(kBrandId, argc, argv);
}
