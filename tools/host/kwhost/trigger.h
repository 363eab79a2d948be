// The trigger modes a host offers: free-running, hardware (input line 0) and
// software, the words that name them on a command line, and the contract's
// trigger mode each one sets before the camera starts.
#ifndef KWHOST_TRIGGER_H
#define KWHOST_TRIGGER_H

#include <QtCore/QString>

namespace kwhost {

enum class TriggerChoice { Free, Hardware, Software };

// The value for ICameraObject::m_nTriggerMode.
int contractTriggerMode(TriggerChoice trigger);

// "free", "hardware" or "software"; false, and choice untouched, for any
// other word.
bool triggerFromWord(const QString& word, TriggerChoice* choice);

}  // namespace kwhost

#endif  // KWHOST_TRIGGER_H
