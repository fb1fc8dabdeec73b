<?php
// Saved as "UTF-8 with BOM" by an editor: PHP sends those three bytes before
// anything the including script writes.
function report_failure(string $what): void {
    header('Content-Type: text/html; charset=UTF-8');
    echo "Fehler: $what";
}
