// The two byte rings shared with the driver.
#include "iface32.h"

char toNetBuffer[QUEUE_SIZE];
char fromNetBuffer[QUEUE_SIZE];
char* toNetBf = toNetBuffer;
char* fromNetBf = fromNetBuffer;
AppyQ toNetQ;
AppyQ fromNetQ;
const AppyQ initQ = {QUEUE_SIZE, 0, 0, 0, 0};

void initQueues()
{
    // The ring storage itself is not cleared.
    fromNetQ.size = initQ.size;
    fromNetQ.count = initQ.count;
    fromNetQ.head = initQ.head;
    fromNetQ.tail = initQ.tail;
    fromNetQ.locked = initQ.locked;
    toNetQ.size = initQ.size;
    toNetQ.count = initQ.count;
    toNetQ.head = initQ.head;
    toNetQ.tail = initQ.tail;
    toNetQ.locked = initQ.locked;
}

void flushQueue(AppyQ* q)
{
    // size and locked are the driver's business and stay as they are.
    q->count = 0;
    q->tail = 0;
    q->head = 0;
}
