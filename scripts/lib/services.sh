# Starts and stops the real services the tests need, all under one private folder, all on loopback.
# Source this file, then call kx_services_start; kx_services_stop undoes everything it started.
# Services that cannot start are reported and skipped: the tests that need them skip themselves.

kx_services_start() {
    KX_RUN=$(mktemp -d /tmp/kestrix-run.XXXXXX)
    chmod 700 "$KX_RUN"
    export KX_RUN
    export XDG_RUNTIME_DIR="$KX_RUN"
    export AVAHI_COMPAT_NOWARN=1
    KX_PIDS=()

    # X server with an EWMH window manager. -noreset keeps the pointer where the tests leave it.
    if command -v Xvfb >/dev/null; then
        exec 5>"$KX_RUN/display"
        Xvfb -displayfd 5 -screen 0 1280x800x24 -nolisten tcp -noreset >"$KX_RUN/xvfb.log" 2>&1 &
        KX_PIDS+=($!)
        exec 5>&-
        for _ in $(seq 50); do [ -s "$KX_RUN/display" ] && break; sleep 0.1; done
        if [ -s "$KX_RUN/display" ]; then
            export DISPLAY=":$(head -n1 "$KX_RUN/display")"
            if command -v openbox >/dev/null; then
                openbox >"$KX_RUN/openbox.log" 2>&1 &
                KX_PIDS+=($!)
                for _ in $(seq 50); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window && break; sleep 0.1; done
            fi
        else
            echo "services: Xvfb did not start; X tests will skip" >&2
        fi
    fi

    # XEmbed system tray (trayer) for the desktop app's icon, in the top-right corner: the icon sits
    # near (1268, 16). Started before any Qt client, which picks its tray protocol once, at start.
    if [ -n "${DISPLAY:-}" ] && command -v trayer >/dev/null; then
        trayer --edge top --align right --widthtype pixel --width 120 --height 32 --SetDockType true \
            >"$KX_RUN/trayer.log" 2>&1 &
        KX_PIDS+=($!)
        for _ in $(seq 50); do xdotool search --class trayer >/dev/null 2>&1 && break; sleep 0.1; done
        xdotool search --class trayer >/dev/null 2>&1 || echo "services: trayer did not start; tray tests will skip" >&2
    fi

    # Session bus at $XDG_RUNTIME_DIR/bus, where sd-bus and GLib look for it.
    if command -v dbus-daemon >/dev/null; then
        dbus-daemon --session --fork --nopidfile --address="unix:path=$KX_RUN/bus" --print-pid=3 3>"$KX_RUN/session-bus.pid"
        KX_PIDS+=($(cat "$KX_RUN/session-bus.pid"))
        export DBUS_SESSION_BUS_ADDRESS="unix:path=$KX_RUN/bus"
    fi

    # System bus and avahi restricted to loopback, only where we may own them (root, none running).
    if [ "$(id -u)" -eq 0 ] && command -v avahi-daemon >/dev/null && ! pgrep -x avahi-daemon >/dev/null; then
        if [ ! -S /run/dbus/system_bus_socket ] || ! pgrep -f 'dbus-daemon --system' >/dev/null; then
            mkdir -p /run/dbus
            rm -f /run/dbus/pid /run/dbus/system_bus_socket
            dbus-daemon --system --fork --print-pid=3 3>"$KX_RUN/system-bus.pid"
            KX_PIDS+=($(cat "$KX_RUN/system-bus.pid"))
            KX_OWN_SYSTEM_BUS=1
        fi
        sed -e 's/^#*allow-interfaces=.*/allow-interfaces=lo/' -e 's/^#*use-ipv6=.*/use-ipv6=no/' \
            -e 's/^#*enable-dbus=.*/enable-dbus=yes/' /etc/avahi/avahi-daemon.conf >"$KX_RUN/avahi.conf"
        grep -q '^allow-interfaces=lo' "$KX_RUN/avahi.conf" || sed -i 's/^\[server\]/[server]\nallow-interfaces=lo/' "$KX_RUN/avahi.conf"
        if avahi-daemon -D -f "$KX_RUN/avahi.conf" 2>"$KX_RUN/avahi.log"; then
            KX_OWN_AVAHI=1
            for _ in $(seq 30); do avahi-daemon -c 2>/dev/null && break; sleep 0.1; done
        else
            echo "services: avahi-daemon did not start; DNS-SD tests will skip" >&2
        fi
    fi
    # Sound server with a silent default output, and a media player playing a tagged tone on the
    # session bus (the system family's tests). The tone is made by mpv itself, so no file ships.
    if command -v pulseaudio >/dev/null && command -v pactl >/dev/null; then
        export PULSE_SERVER="unix:$KX_RUN/pulse/native"
        if pulseaudio --daemonize=yes -n --exit-idle-time=-1 --log-target=file:"$KX_RUN/pulse.log" \
            --load=module-native-protocol-unix --load="module-null-sink sink_name=kx_null" 2>/dev/null; then
            for _ in $(seq 30); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
            pactl set-default-sink kx_null || true
            KX_OWN_PULSE=1
        else
            unset PULSE_SERVER
            echo "services: pulseaudio did not start; audio tests will skip" >&2
        fi
    fi
    if command -v mpv >/dev/null && [ -f /usr/lib/mpv-mpris/mpris.so ] && [ -n "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
        export KX_TONE="$KX_RUN/tone.ogg"
        if mpv --no-config 'av://lavfi:sine=frequency=440:duration=60' --o="$KX_TONE" \
            --oset-metadata=title="Kestrix Tone",artist="Test Artist",album="Test Album" >"$KX_RUN/tone.log" 2>&1; then
            mpv --no-config --script=/usr/lib/mpv-mpris/mpris.so --ao=null --vo=null --no-terminal --loop-file=inf \
                "$KX_TONE" >"$KX_RUN/mpv.log" 2>&1 &
            KX_PIDS+=($!)
            for _ in $(seq 50); do playerctl -l 2>/dev/null | grep -q mpv && break; sleep 0.1; done
            playerctl -l 2>/dev/null | grep -q mpv || echo "services: mpv is not on the bus; media tests will skip" >&2
        else
            unset KX_TONE
            echo "services: mpv could not make the test tone; media tests will skip" >&2
        fi
    fi
    export KX_PIDS_LIST="${KX_PIDS[*]}"
    echo "services: run folder $KX_RUN, DISPLAY=${DISPLAY:-none}"
}

kx_services_stop() {
    # Runs from an EXIT trap under `set -e`: a service that already ended (the sound server after
    # `pactl exit`, a player at the end of its tone) must not turn a passing run into a failure.
    [ -n "${KX_OWN_PULSE:-}" ] && { pactl exit 2>/dev/null || true; }
    [ -n "${KX_OWN_AVAHI:-}" ] && { avahi-daemon -k 2>/dev/null || true; }
    for pid in ${KX_PIDS_LIST:-}; do kill "$pid" 2>/dev/null || true; done
    if [ -n "${KX_OWN_SYSTEM_BUS:-}" ]; then rm -f /run/dbus/pid /run/dbus/system_bus_socket; fi
    [ -n "${KX_RUN:-}" ] && rm -rf "$KX_RUN"
    return 0
}
