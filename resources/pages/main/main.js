// The start page: the device list (kept current as devices come and go), the settings panel of
// the chosen device or of the pointer, macros coming back from the macro editor's popup view, and
// the window's own title area. Unapplied edits are never dropped without asking.
(function () {
    "use strict";

    var POINTER = "pointer";
    var $ = function (id) { return document.getElementById(id); };

    var selected = null; // a device's Version, POINTER, or null
    var opened = null;   // what the visible panel was opened for
    var ready = false;   // the panels are set up

    function kindOf(version) {
        if (/^M/i.test(version))
            return "mouse";
        if (/^K/i.test(version))
            return "keyboard";
        return null;
    }

    function panelOf(key) {
        if (key === POINTER)
            return PointerPanel;
        if (kindOf(key) === "mouse")
            return MousePanel;
        if (kindOf(key) === "keyboard")
            return KeyboardPanel;
        return null;
    }

    function showPanel(id) {
        document.querySelectorAll(".content > section").forEach(function (section) {
            section.hidden = section.id !== id;
        });
    }

    function markSelected() {
        document.querySelectorAll(".nav-list li").forEach(function (item) {
            item.classList.toggle("selected", item.dataset.key === selected);
        });
    }

    // Shows the panel of what is selected; a panel reads what is held when opened for something
    // new, not when it comes back after the device list was refreshed.
    function showSelected() {
        markSelected();
        var panel = panelOf(selected);
        if (!panel) {
            opened = null;
            return showPanel("welcome-panel");
        }
        showPanel(panel === PointerPanel ? "pointer-panel" : panel === MousePanel ? "mouse-panel" : "keyboard-panel");
        if (opened !== selected) {
            opened = selected;
            panel.open(selected);
        } else if (panel.shown) {
            panel.shown();
        }
    }

    // Goes to another device or to the pointer, after asking whether unapplied edits may go.
    async function select(key) {
        if (key === selected)
            return;
        var current = panelOf(opened);
        if (current && current.hasUnsavedChanges()) {
            var drop = await Dialog.confirm({
                title: "Discard unsaved changes?",
                text: "Your changes to " + current.name() + " have not been applied yet. Going elsewhere drops them.",
                confirm: "Discard changes",
                cancel: "Keep editing",
                danger: true
            });
            if (!drop)
                return;
            current.discard();
        }
        Status.clear();
        selected = key;
        showSelected();
    }

    function renderDevices(versions) {
        var list = $("device-list");
        list.textContent = "";
        versions.forEach(function (version) {
            var kind = kindOf(version);
            var item = document.createElement("li");
            item.dataset.key = version;
            item.tabIndex = 0;
            var icon = kind ? $("icon-" + kind).cloneNode() : null;
            if (icon) {
                icon.removeAttribute("id");
                icon.hidden = false;
                item.appendChild(icon);
            }
            var text = document.createElement("span");
            text.innerHTML = '<span></span><span class="version"></span>';
            text.firstChild.textContent = kind === "mouse" ? "Mouse" : kind === "keyboard" ? "Keyboard" : "Device";
            text.lastChild.textContent = kind ? version : version + " (not supported)";
            item.appendChild(text);
            if (kind) {
                item.addEventListener("click", function () { select(version); });
                item.addEventListener("keydown", function (e) {
                    if (e.key === "Enter" || e.key === " ")
                        select(version);
                });
            } else {
                item.classList.add("unsupported");
            }
            list.appendChild(item);
        });
        $("no-devices").hidden = versions.length > 0;

        if (selected !== POINTER && selected !== null && versions.indexOf(selected) < 0) {
            // The device went away, and with it whatever was not applied to it.
            var gone = panelOf(selected);
            if (gone && opened === selected && gone.hasUnsavedChanges())
                Status.error(gone.name() + " was unplugged before its changes were applied.");
            selected = null;
            opened = null;
        }
        if (selected === null)
            selected = versions.filter(kindOf)[0] || null;
        showSelected();
    }

    // "GetDevicesList" gives no answer at all while no device is attached: the list shows no
    // device when no answer has come after a while, and only the answer to the latest request counts.
    // news, when given, goes to the status line together with the list it is about.
    var NO_ANSWER_MS = 2000;
    var asked = 0;
    function refreshDevices(news) {
        var mine = ++asked;
        function tell() {
            if (news)
                Status.info(news);
        }
        var timer = setTimeout(function () {
            if (mine !== asked)
                return;
            tell();
            renderDevices([]);
        }, NO_ANSWER_MS);
        Bridge.call("GetDevicesList", {}).then(function (result) {
            clearTimeout(timer);
            if (mine !== asked)
                return;
            var versions = null;
            try {
                versions = result.ok ? JSON.parse(result.answer) : null;
            } catch (e) {
                versions = null;
            }
            if (!Array.isArray(versions))
                return Status.error("The list of devices could not be read.");
            // Before the list: what drawing it finds wrong has the last word.
            tell();
            renderDevices(versions);
        });
    }

    // Events first, so that nothing happening during start-up is missed.
    Bridge.on("devicesChanged", function () {
        if (!ready)
            return;
        refreshDevices("The attached devices changed.");
    });
    Bridge.on("onBrowserMsg", function (message) {
        if (!ready)
            return;
        if (message === "pageError") {
            Status.error("A page could not be loaded.");
        } else if (message.indexOf("macro:") === 0) {
            var made = null;
            try {
                made = JSON.parse(message.substr(6));
            } catch (e) {
                made = null;
            }
            var target = made && typeof made.macro === "string" ? panelOf(made.version) : null;
            if (target && target.useMacro)
                target.useMacro(made);
        } else {
            Status.info("Message: " + message);
        }
    });

    TitleBar.attach($("titlebar"), {
        maximise: true,
        onClose: function () { Bridge.call("CloseX", {}); }
    });
    $("pointer-entry").dataset.key = POINTER;
    $("pointer-entry").addEventListener("click", function () { select(POINTER); });

    Assignment.init();
    MousePanel.init();
    KeyboardPanel.init();
    PointerPanel.init();
    ready = true;
    refreshDevices();
    KeyNames.load().then(function (names) {
        if (!names.length)
            Status.error("The key names could not be read; key combinations cannot be chosen.");
        Assignment.useKeyNames(names);
        var visible = panelOf(opened);
        if (visible && visible.shown)
            visible.shown();
    });
})();
