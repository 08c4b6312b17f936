// The edit history at the side: what undo takes back (newest last) and what redo brings
// again. The history itself lives in the player, shared by every open page.

export class History {
  constructor(undoList, redoList, undoButton, redoButton) {
    this.undoList = undoList;
    this.redoList = redoList;
    this.undoButton = undoButton;
    this.redoButton = redoButton;
  }

  show(history) {
    const items = (labels) => labels.map((text) => {
      const li = document.createElement('li');
      li.textContent = text;
      return li;
    });
    this.undoList.replaceChildren(...items(history.undo));
    this.redoList.replaceChildren(...items(history.redo));
    this.undoButton.disabled = history.undo.length === 0;
    this.redoButton.disabled = history.redo.length === 0;
    this.undoButton.title = history.undo.length ? `undo ${history.undo[history.undo.length - 1]} (Ctrl+Z)` : 'nothing to undo';
    this.redoButton.title = history.redo.length ? `redo ${history.redo[0]} (Ctrl+Shift+Z)` : 'nothing to redo';
    this.undoList.lastElementChild?.scrollIntoView({ block: 'nearest' });
  }
}
