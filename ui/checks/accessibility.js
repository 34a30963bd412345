// axe-core (npm, pinned in package-lock.json) in a page that puppeteer drives: the WCAG 2.1 A and
// AA rules only, and a failure text that names the page state, the rule and each element.
"use strict";
const fs = require("node:fs");

const axeSource = fs.readFileSync(require.resolve("axe-core/axe.min.js"), "utf8");
const wcagTags = ["wcag2a", "wcag2aa", "wcag21a", "wcag21aa"];

// The violations in the page as it is now: [{ rule, help, elements: [selector and HTML] }].
async function axeViolations(page) {
  if (!(await page.evaluate(() => typeof window.axe === "object"))) {
    await page.addScriptTag({ content: axeSource });
  }
  return page.evaluate(async (tags) => {
    const results = await window.axe.run(document, {
      runOnly: { type: "tag", values: tags },
      resultTypes: ["violations"],
      // Fetching the style sheets again (for the one orientation rule) is refused for file pages.
      preload: false
    });
    return results.violations.map((violation) => ({
      rule: violation.id,
      help: violation.help,
      elements: violation.nodes.map((node) => `${node.target.join(" ")} ${node.html}`)
    }));
  }, wcagTags);
}

function describeViolations(state, violations) {
  const lines = violations.map((violation) =>
    `  ${violation.rule} (${violation.help}):\n${violation.elements.map((element) => `    ${element}`).join("\n")}`);
  return `state "${state}": ${violations.length} WCAG 2.1 AA violation(s)\n${lines.join("\n")}`;
}

module.exports = { axeViolations, describeViolations, wcagTags };
