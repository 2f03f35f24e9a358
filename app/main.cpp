// The application's entry.
#include <cstdio>

int main() {
    std::printf("%s %s (%s)\n", LIVEAPP_DISPLAY_NAME, LIVEAPP_VERSION, LIVEAPP_BUILD_NUMBER);
    return 0;
}
