/* Definitions of the identifiers that the IDL declares with cpp_quote (category and foreign class
   IDs); widl's own ID file covers the interfaces and the class. */
#include <initguid.h>

#include "hyd.h"
