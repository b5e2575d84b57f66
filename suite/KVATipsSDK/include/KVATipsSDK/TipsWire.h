// How a tip travels between the tips library and the suite's message centre (0x40000).
//
//   show/update  kShowTip to the message centre, a JSON object:
//                {"id": n, "owner": "...", "kind": 0|2, "title": "...", "content": "...",
//                 "description": "...", "button": "...", "icon": "...", "mode": n, "level": n,
//                 "descriptionLevel": n, "closeOptions": ["...", ...], "process": n,
//                 "items": [{"icon": "...", "name": "...", "state": n}, ...], "update": bool}
//   close        kCloseTip to the message centre: {"id": n}
//   answer       kTipReply from the message centre back to the sender: {"id": n, "event": e, "text": "..."}
//                (event 1: the button was pressed; 3: close option, text = its index "0", "1", ...)
// Texts are UTF-8.
#pragma once

namespace vtr::tips_sdk::wire {
inline constexpr int kMessageCentre = 0x40000;
// The endpoint of the tips library in the process that shows tips.
inline constexpr int kTipsClient = 0x410000;
inline constexpr int kShowTip = 0x40010;
inline constexpr int kCloseTip = 0x40011;
inline constexpr int kTipReply = 0x410001;
inline constexpr int kEventButton = 1;
inline constexpr int kEventCloseOption = 3;
}  // namespace vtr::tips_sdk::wire
