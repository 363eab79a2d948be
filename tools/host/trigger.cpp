#include "kwhost/trigger.h"

#include "cameraobject.h"

namespace kwhost {

int contractTriggerMode(TriggerChoice trigger)
{
    switch (trigger) {
    case TriggerChoice::Hardware:
        return CameraTriggerModeHardware;
    case TriggerChoice::Software:
        return CameraTriggerModeSoftware;
    case TriggerChoice::Free:
        break;
    }
    return CameraTriggerModeFreeRun;
}

bool triggerFromWord(const QString& word, TriggerChoice* choice)
{
    static const struct {
        const char* word;
        TriggerChoice choice;
    } kWords[] = {
        {"free", TriggerChoice::Free},
        {"hardware", TriggerChoice::Hardware},
        {"software", TriggerChoice::Software},
    };
    for (const auto& entry : kWords) {
        if (word == QLatin1String(entry.word)) {
            *choice = entry.choice;
            return true;
        }
    }
    return false;
}

}  // namespace kwhost
