/* A stand-in libxml2 that has twelve of the thirteen functions the event
 * client takes from it: xmlTextWriterEndElement is missing.  Nothing here
 * is ever called; the client must refuse the library as incomplete. */
void xmlReadMemory(void) {}
void xmlDocGetRootElement(void) {}
void xmlFreeDoc(void) {}
void xmlBufferCreate(void) {}
void xmlBufferFree(void) {}
void xmlNewTextWriterMemory(void) {}
void xmlFreeTextWriter(void) {}
void xmlTextWriterStartDocument(void) {}
void xmlTextWriterEndDocument(void) {}
void xmlTextWriterStartElement(void) {}
void xmlTextWriterWriteAttribute(void) {}
void xmlTextWriterWriteString(void) {}
