// The edit history at the side: what undo takes back (newest last) and what redo brings again,
// each entry saying what it changed. A click on an entry goes back (or forward) to just after
// it, in one step. The history itself lives in the player, shared by every open page.

export class History {
  // go(verb, steps): undo or redo that many steps at once.
  constructor(undoList, redoList, undoButton, redoButton, go) {
    this.undoList = undoList;
    this.redoList = redoList;
    this.undoButton = undoButton;
    this.redoButton = redoButton;
    this.go = go;
  }

  show(history) {
    const undo = history.undo, redo = history.redo;
    this.undoList.replaceChildren(...undo.map((text, i) => {
      const li = document.createElement('li');
      li.textContent = text;
      const back = undo.length - 1 - i;
      if (back > 0) {
        li.title = `click to go back to just after this (undoes ${back} step${back > 1 ? 's' : ''})`;
        li.addEventListener('click', () => this.go('undo', back));
      } else {
        li.title = 'the last change';
      }
      return li;
    }));
    this.redoList.replaceChildren(...redo.map((text, i) => {
      const li = document.createElement('li');
      li.textContent = text;
      li.title = `click to bring this back (redoes ${i + 1} step${i > 0 ? 's' : ''})`;
      li.addEventListener('click', () => this.go('redo', i + 1));
      return li;
    }));
    this.undoButton.disabled = undo.length === 0;
    this.redoButton.disabled = redo.length === 0;
    this.undoButton.title = undo.length ? `undo ${undo[undo.length - 1]} (Ctrl+Z)` : 'nothing to undo';
    this.redoButton.title = redo.length ? `redo ${redo[0]} (Ctrl+Shift+Z)` : 'nothing to redo';
    this.undoList.lastElementChild?.scrollIntoView({ block: 'nearest' });
  }
}
