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

    // What a write did not take, with the reason beside it when the failed answer gives one after
    // its fixed text ("writeDevices failed!: the device refused the write").
    function refused(label, result) {
        var message = result && result.message ? String(result.message) : "";
        var at = message.indexOf(": ");
        return at < 0 ? label : label + " (" + message.substr(at + 2) + ")";
    }

    function capitalised(text) {
        return text.charAt(0).toUpperCase() + text.substr(1);
    }

    // options:
    //   id: the panel's section
    //   name(): what the panel writes to, as in "the mouse"
    //   read(): promise of the state held
    //   render(draft): shows the state in the controls
    //   check(draft): what keeps the edits from being written, [{id, label, text}]: the field (or
    //     the thing) with its message, how the status line names it, and why; empty when all fit
    //   mark(id, text): shows a message of check() beside its field, or clears it with an empty
    //     text (Field.setError when not given)
    //   onRefused(problems): after a refusal, to bring the first problem into view
    //   write(saved, draft): promise of {done: [what was written], failed: [what was not], note}
    //   onRefresh(draft, saved): after every change of the edits or of the panel's state
    function create(options) {
        var section = document.getElementById(options.id);
        var bar = section.querySelector(".apply-bar");
        var saved = null;
        var draft = null;
        var generation = 0;
        var state = "idle";
        var shown = [];      // ids of the messages of the last refusal still on screen
        var summary = "";    // the status line's text of that refusal

        var mark = options.mark || Field.setError;

        function unmarkAll() {
            shown.forEach(function (id) { mark(id, ""); });
            shown = [];
            summary = "";
            Field.clearErrors(section);
        }

        function summarise(problems) {
            var labels = [];
            problems.forEach(function (problem) {
                if (labels.indexOf(problem.label) < 0)
                    labels.push(problem.label);
            });
            return "Nothing was written: correct " + list(labels) + " first.";
        }

        // A message goes as soon as its field holds a value that can be written; one still wrong
        // says why as it is now; the status line sums up what is left.
        function recheck() {
            if (!shown.length || !draft)
                return;
            var problems = options.check(draft);
            shown = shown.filter(function (id) {
                var problem = problems.filter(function (p) { return p.id === id; })[0];
                mark(id, problem ? problem.text : "");
                return !!problem;
            });
            var left = problems.filter(function (p) { return shown.indexOf(p.id) >= 0; });
            var next = left.length ? summarise(left) : "";
            if (Status.current() === summary) {
                if (next)
                    Status.error(next);
                else
                    Status.info("Every marked value is corrected. Press Apply to write the changes.");
            }
            summary = next;
        }

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
            recheck();
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
                unmarkAll();
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
            unmarkAll();
            options.render(draft);
            refresh();
        }

        function apply() {
            if (busy() || !dirty())
                return Promise.resolve();
            unmarkAll();
            var problems = options.check(draft);
            if (problems.length) {
                problems.forEach(function (problem) {
                    mark(problem.id, problem.text);
                    if (shown.indexOf(problem.id) < 0)
                        shown.push(problem.id);
                });
                summary = summarise(problems);
                Status.error(summary);
                if (options.onRefused)
                    options.onRefused(problems);
                if (options.onRefresh)
                    options.onRefresh(draft, saved);
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
            saved: function () { return saved; },
            // The message of the last refusal shown for id; empty when none.
            refusal: function (id) { return shown.indexOf(id) >= 0; }
        };
    }

    return { create: create, clone: clone, list: list, refused: refused };
})();
