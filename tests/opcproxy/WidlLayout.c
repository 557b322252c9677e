/* The layout table of the widl-generated header: the only place besides the
 * proxy DLL that includes it, as C, so its declarations never meet ours. */
#include "korvaopc.h"

#include "OpcStructureLayout.h"

static const struct KorvaLayoutRow rows[] = {
    KORVA_OPC_LAYOUT(KORVA_LAYOUT_TYPE, KORVA_LAYOUT_FIELD)};

const struct KorvaLayoutRow* KorvaWidlLayout(size_t* count) {
  *count = sizeof rows / sizeof rows[0];
  return rows;
}
