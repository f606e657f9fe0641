#include "scene/SceneState.h"

SceneState sceneState{};
