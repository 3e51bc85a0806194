#include <zelk_voice_engine.h>
int main(void) { return ZELK_VOICE_GetVersionNumber() == ZELK_VOICE_VERSION_NUMBER ? 0 : 1; }
