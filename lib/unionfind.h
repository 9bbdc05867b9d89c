#pragma once
/* Disjoint-set forests with merge callbacks. Not offered yet. */
