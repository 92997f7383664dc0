// Hostlore web view: a box above each long table that hides the rows not
// holding its text. The pages read the same without it.
"use strict";
document.querySelectorAll("table[data-filter]").forEach(function (table) {
  var box = document.createElement("input");
  box.type = "search";
  box.className = "row-filter";
  box.placeholder = "Filter these rows";
  box.setAttribute("aria-label", "Filter these rows");
  box.addEventListener("input", function () {
    var wanted = box.value.toLowerCase();
    table.querySelectorAll("tbody tr").forEach(function (row) {
      row.hidden = wanted !== "" && row.textContent.toLowerCase().indexOf(wanted) < 0;
    });
  });
  table.parentNode.parentNode.insertBefore(box, table.parentNode);
});
