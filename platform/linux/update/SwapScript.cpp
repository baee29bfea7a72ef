#include "platform/linux/update/SwapScript.h"

namespace kx {

const char* const SwapScript::text =
    R"script(pid="$1"; old="$2"; new="$3"; backup="$4"; data="$5"; program="$6"; reason="$7"
shift 7
note() { printf '%s %s\n' "$(/bin/date -u +%Y-%m-%dT%H:%M:%SZ)" "$1" >>"$data/update.log"; }
alive() { [ -d "/proc/$1" ] && ! /bin/grep -q '^State:[[:space:]]*Z' "/proc/$1/status" 2>/dev/null; }
launch() { "$old/bin/$program" "$@" >"$data/kestrixd.log" 2>&1 & started=$!; }
# Wait (up to a minute) for the agent to quit, so nothing is holding the installation.
i=0
while alive "$pid"; do
  i=$((i + 1))
  [ "$i" -gt 600 ] && { note "the agent did not quit; nothing was changed"; exit 1; }
  /bin/sleep 0.1
done
/bin/rm -rf "$backup"
# One step: the installation's name holds either the old or the new version, never neither.
if ! "$old/bin/kestrixd" --exchange-folders "$old" "$new"; then
  note "could not move the new version in; nothing was changed"
  launch "$@"
  exit 1
fi
/bin/mv "$new" "$backup"
/bin/rmdir "${new%/*}" 2>/dev/null
launch "$@"
# Keep the new version once it answers on its control socket.
i=0
while [ "$i" -lt 150 ]; do
  if /usr/bin/timeout 2 "$backup/bin/kestrixd" --data-dir "$data" status >/dev/null 2>&1; then
    note "started $old"
    exit 0
  fi
  alive "$started" || break
  i=$((i + 1))
  /bin/sleep 0.1
done
# It died or stayed silent: stop it and put the previous version back exactly as it was.
kill "$started" 2>/dev/null
i=0
while alive "$started" && [ "$i" -lt 20 ]; do i=$((i + 1)); /bin/sleep 0.1; done
kill -9 "$started" 2>/dev/null
wait "$started" 2>/dev/null
if "$backup/bin/kestrixd" --exchange-folders "$old" "$backup"; then
  /bin/rm -rf "$backup"
fi
printf '%s\n' "$reason" >"$data/update-failure.txt.new" && /bin/mv "$data/update-failure.txt.new" "$data/update-failure.txt"
note "$reason"
launch "$@"
exit 1)script";

std::vector<std::string> SwapScript::commandLine(const Arguments& arguments) {
    std::vector<std::string> line{"/bin/sh",
                                  "-c",
                                  text,
                                  name,
                                  std::to_string(arguments.pid),
                                  arguments.oldInstallation.string(),
                                  arguments.newInstallation.string(),
                                  arguments.backup.string(),
                                  arguments.dataFolder.string(),
                                  arguments.program,
                                  arguments.rollbackReason};
    line.insert(line.end(), arguments.agentArguments.begin(), arguments.agentArguments.end());
    return line;
}

}  // namespace kx
