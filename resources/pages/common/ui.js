// Pieces every page's forms use: a question asked in the page before work is dropped, and the
// reason a field's value is refused, shown beside the field.
var Dialog = (function () {
    "use strict";

    // Asks in a modal box over the page. options: title, text, confirm (the button that goes on),
    // cancel (the button that keeps things as they are), danger (the going-on button in red).
    // The promise gives true when the user goes on.
    function confirm(options) {
        return new Promise(function (resolve) {
            var backdrop = document.createElement("div");
            backdrop.className = "dialog-backdrop";
            backdrop.innerHTML =
                '<div class="dialog" role="dialog" aria-modal="true">' +
                '<h3 class="dialog-title"></h3><p class="dialog-text"></p>' +
                '<div class="dialog-buttons"><button data-answer="no"></button>' +
                '<button data-answer="yes" class="primary"></button></div></div>';
            backdrop.querySelector(".dialog-title").textContent = options.title;
            backdrop.querySelector(".dialog-text").textContent = options.text;
            var no = backdrop.querySelector('[data-answer="no"]');
            var yes = backdrop.querySelector('[data-answer="yes"]');
            no.textContent = options.cancel || "Cancel";
            yes.textContent = options.confirm || "OK";
            if (options.danger)
                yes.classList.add("danger");

            function answer(value) {
                document.removeEventListener("keydown", onKey, true);
                backdrop.remove();
                resolve(value);
            }
            function onKey(e) {
                if (e.key === "Escape") {
                    e.preventDefault();
                    answer(false);
                }
            }
            no.addEventListener("click", function () { answer(false); });
            yes.addEventListener("click", function () { answer(true); });
            document.addEventListener("keydown", onKey, true);
            document.body.appendChild(backdrop);
            no.focus();
        });
    }

    function isOpen() {
        return !!document.querySelector(".dialog-backdrop");
    }

    return { confirm: confirm, isOpen: isOpen };
})();

var Field = (function () {
    "use strict";

    // The element that shows the reason for a field: the one named "<id>-error".
    function errorElement(id) {
        return document.getElementById(id + "-error");
    }

    // Shows why the field's value is refused, or clears it with an empty text.
    function setError(id, text) {
        var input = document.getElementById(id);
        var element = errorElement(id);
        if (input)
            input.classList.toggle("invalid", !!text);
        if (element) {
            element.textContent = text || "";
            element.hidden = !text;
        }
    }

    function clearErrors(container) {
        container.querySelectorAll(".invalid").forEach(function (input) { input.classList.remove("invalid"); });
        container.querySelectorAll(".field-error").forEach(function (element) {
            element.textContent = "";
            element.hidden = true;
        });
    }

    // A whole number from min to max (and a multiple of step when given) written in decimal
    // digits: {value} or {error} with the reason in plain words.
    function wholeNumber(text, min, max, step) {
        var trimmed = String(text).trim();
        var range = step ? min + " to " + max + " in steps of " + step : min + " to " + max;
        if (!/^[0-9]+$/.test(trimmed))
            return { error: trimmed === "" ? "Enter a number from " + range + "." : "Use digits only: a whole number from " + range + "." };
        var value = Number(trimmed);
        if (value < min || value > max)
            return { error: "Must be from " + range + "." };
        if (step && value % step !== 0)
            return { error: "Must be a multiple of " + step + " (from " + range + ")." };
        return { value: value };
    }

    return { setError: setError, clearErrors: clearErrors, wholeNumber: wholeNumber };
})();

// Selects whose choices are [value, label] pairs.
var Choices = (function () {
    "use strict";

    function fill(select, pairs) {
        select.textContent = "";
        pairs.forEach(function (pair) {
            var option = document.createElement("option");
            option.value = pair[0];
            option.textContent = pair[1];
            select.appendChild(option);
        });
    }

    // Shows value in a select; a value none of its choices has gets a choice of its own, so that
    // what is shown is what is held.
    function show(select, value, otherLabel) {
        select.querySelectorAll("option[data-other]").forEach(function (option) { option.remove(); });
        var known = Array.from(select.options).some(function (option) { return option.value === value; });
        if (!known) {
            var option = document.createElement("option");
            option.value = value;
            option.textContent = otherLabel;
            option.dataset.other = "";
            select.appendChild(option);
        }
        select.value = value;
    }

    return { fill: fill, show: show };
})();
