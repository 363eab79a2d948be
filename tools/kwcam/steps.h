// The steps every command starts with (load the plug-in, choose the camera,
// open it), each printing its failure on stderr.
#ifndef KWCAM_STEPS_H
#define KWCAM_STEPS_H

#include "commandline.h"
#include "kwhost/camera.h"
#include "kwhost/plugin.h"

namespace kwcam {

bool loadPlugin(const Invocation& invocation, kwhost::Plugin* plugin);
// The camera named by -c when given, else by the key (empty: the first).
bool selectCamera(kwhost::Camera* camera, const Invocation& invocation, const QString& key);
bool openCamera(kwhost::Camera* camera, ICameraCallback* callback);

}  // namespace kwcam

#endif  // KWCAM_STEPS_H
