// Typeset the TeX that arithmatex marks (\( \) inline, \[ \] display) with the
// KaTeX shipped in assets/katex; document$ fires on every page load.
document$.subscribe(() => {
  for (const el of document.querySelectorAll(".arithmatex")) {
    renderMathInElement(el, {
      delimiters: [
        { left: "\\(", right: "\\)", display: false },
        { left: "\\[", right: "\\]", display: true },
      ],
      throwOnError: false,
    });
  }
});
