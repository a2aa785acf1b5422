#include "driver/settings.h"

Settings settings;

void ResetSettings() {
  settings = Settings{};
}
