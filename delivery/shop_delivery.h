#pragma once
// The delivery channel the setting `Delivery` chooses: 1 the browser
// extension, anything else keystrokes. The cycles ask for it at every use,
// so a change in the settings dialog counts from the next cycle on.

#include "delivery/delivery_channel.h"

namespace vt {

DeliveryChannel& ShopDelivery();

// Once per run, in a Wayland session with keystroke delivery: one log line
// that keystrokes reach X11 windows only and the extension works everywhere.
void NoteDeliveryChannel();

}  // namespace vt
