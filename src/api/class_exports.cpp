// Class-style exports that hosts may link by name. They carry no function of
// their own and nothing in the library uses them.
#include "zelk_voice_engine.h"

CZelk_voice_engine::CZelk_voice_engine() = default;

CZelk_voice_engine& CZelk_voice_engine::operator=(const CZelk_voice_engine&) = default;

int ZELK_VOICE_CALL fnZelk_voice_engine(void) { return 42; }

int nZelk_voice_engine = 0;
