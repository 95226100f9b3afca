// Placeholder entries into the driver parts that are not built yet (window
// and GL context, input events, audio, Steam cloud, texture loading). Each
// does nothing so that the driver core and headless programs link; the real
// parts replace these definitions one by one.
#include "qel_driver.h"

#include <cstring>

void _driver_video_init() {}
void _driver_video_deinit() {}
void _driver_cloud_deinit() {}

int driver_event_poll(Event* e) {
  if (e) memset(e, 0, sizeof(*e));
  return 0;
}

unsigned int _driver_tex_load(const char* path, int* w, int* h, int* tw, int* th) {
  return 0;
}
