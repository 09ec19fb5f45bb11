// A settings panel: it shows what its device (or the system) holds, keeps the user's edits apart
// until they are applied in one go with the panel's Apply button, marks them as unsaved meanwhile,
// and reads everything back after writing, so that what stays on screen is what is held.
var Panel = (function () {
    "use strict";

    function clone(value) {
        return JSON.parse(JSON.stringify(value));
    }

    // "a", "a and b", "a, b and c".
    function list(words) {
        if (words.length < 2)
            return words.join("");
        return words.slice(0, -1).join(", ") + " and " + words[words.length - 1];
    }

    function capitalised(text) {
        return text.charAt(0).toUpperCase() + text.substr(1);
    }

    // options:
    //   id: the panel's section
    //   name(): what the panel writes to, as in "the mouse"
    //   read(): promise of the state held
    //   render(draft): shows the state in the controls
    //   validate(draft): true when every edit can be written; marks the fields that cannot
    //   write(saved, draft): promise of {done: [what was written], failed: [what was not], note}
    //   onRefresh(draft, saved): after every change of the edits or of the panel's state
    function create(options) {
        var section = document.getElementById(options.id);
        var bar = section.querySelector(".apply-bar");
        var saved = null;
        var draft = null;
        var generation = 0;
        var state = "idle";

        function dirty() {
            return saved !== null && JSON.stringify(saved) !== JSON.stringify(draft);
        }

        function busy() {
            return state === "reading" || state === "writing";
        }

        function refresh() {
            var unsaved = dirty();
            bar.querySelector(".unsaved").hidden = !unsaved;
            bar.querySelector(".saved-note").hidden = unsaved || state !== "ready";
            bar.querySelector(".apply").disabled = !unsaved || busy();
            bar.querySelector(".discard").disabled = !unsaved || busy();
            if (options.onRefresh && draft)
                options.onRefresh(draft, saved);
        }

        function setState(next) {
            state = next;
            section.dataset.state = next;
            section.classList.toggle("busy", busy());
            refresh();
        }

        // Reads what is held and shows it; edits not applied are dropped.
        function reload() {
            var mine = ++generation;
            setState("reading");
            return options.read().then(function (held) {
                if (mine !== generation)
                    return;
                saved = held;
                draft = clone(held);
                Field.clearErrors(section);
                options.render(draft);
                setState("ready");
            });
        }

        function open() {
            saved = draft = null;
            return reload();
        }

        function discard() {
            if (saved === null)
                return;
            draft = clone(saved);
            Field.clearErrors(section);
            options.render(draft);
            refresh();
        }

        function apply() {
            if (busy() || !dirty())
                return Promise.resolve();
            Field.clearErrors(section);
            if (!options.validate(draft)) {
                Status.error("Nothing was written: correct the marked values first.");
                return Promise.resolve();
            }
            var name = options.name();
            setState("writing");
            Status.busy("Writing to " + name + "\u2026");
            var before = saved;
            return options.write(before, draft).then(function (outcome) {
                return reload().then(function () { return outcome; });
            }).then(function (outcome) {
                var note = outcome.note ? " " + outcome.note : "";
                if (outcome.failed.length) {
                    var taken = outcome.done.length ? " It took " + list(outcome.done) + "." : "";
                    Status.error(capitalised(name) + " did not take " + list(outcome.failed) + "." + taken +
                                 " The page shows what it holds now." + note);
                } else if (outcome.note) {
                    Status.error("Written to " + name + ": " + list(outcome.done) + "." + note);
                } else {
                    Status.ok("Written to " + name + ": " + list(outcome.done) + ".");
                }
            });
        }

        bar.querySelector(".apply").addEventListener("click", apply);
        bar.querySelector(".discard").addEventListener("click", function () {
            discard();
            Status.info("Changes discarded.");
        });

        return {
            open: open,
            reload: reload,
            discard: discard,
            apply: apply,
            changed: refresh,
            busy: busy,
            hasUnsavedChanges: dirty,
            draft: function () { return draft; },
            saved: function () { return saved; }
        };
    }

    return { create: create, clone: clone, list: list };
})();
