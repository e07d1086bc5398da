// What a change of the conversion settings asks of the main window's preview.
#pragma once

enum class UpdateKind
{
    // A new target size: the view is only rescaled.
    Rescale,
    // A new quality or any other setting that changes the file: a full conversion.
    Convert,
    // New colour adjustments: the view is redrawn from the preview.
    Redraw,
};
