#include "protocol/Capability.h"

namespace kx {

const Capability Capability::inputPointer{"input.pointer"};
const Capability Capability::inputKey{"input.key"};
const Capability Capability::inputText{"input.text"};
const Capability Capability::systemVolume{"system.volume"};
const Capability Capability::systemBrightness{"system.brightness"};
const Capability Capability::systemMedia{"system.media"};
const Capability Capability::systemPower{"system.power"};
const Capability Capability::systemShutdown{"system.shutdown"};
const Capability Capability::systemScreenshot{"system.screenshot"};
const Capability Capability::systemApps{"system.apps"};
const Capability Capability::systemNowPlaying{"system.nowplaying"};
const Capability Capability::systemAppsLaunch{"system.apps.launch"};
const Capability Capability::sessionTmux{"session.tmux"};
const Capability Capability::commands{"commands"};
const Capability Capability::appChromeTabs{"app.chrome.tabs"};
const Capability Capability::appFinder{"app.finder"};
const Capability Capability::appXcode{"app.xcode"};
const Capability Capability::appSlack{"app.slack"};
const Capability Capability::appShortcuts{"app.shortcuts"};
const Capability Capability::agentUpdate{"agent.update"};
const Capability Capability::clipboardText{"clipboard.text"};
const Capability Capability::clipboardFile{"clipboard.file"};

}  // namespace kx
