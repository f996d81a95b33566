// Typeset the TeX that arithmatex marks, <span class="arithmatex">\(...\)</span>
// inline and <div class="arithmatex">\[...\]</div> on its own line, with the
// KaTeX shipped in assets/katex. document$ fires on every page load.
document$.subscribe(() => {
  for (const el of document.querySelectorAll(".arithmatex")) {
    const tex = el.textContent.trim().slice(2, -2);
    katex.render(tex, el, { displayMode: el.tagName === "DIV", throwOnError: false });
  }
});
